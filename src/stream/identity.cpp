#include "identity.h"

QString Identity::version()
{
    return QString::asprintf("%d.%02d", TAVROLD_VERSION_MAJOR, TAVROLD_VERSION_MINOR);
}

QString Identity::versionText()
{
    return QLatin1Char('V') + version();
}
