#ifndef IDENTITY_H
#define IDENTITY_H

#include <QString>

// Who the program is, for every program of it: the settings' organisation
// and application (one settings file, ~/.config/VRZ/tavrold.conf, for the
// window and the tool), and the version that the build's project version
// gives ("2.00").
namespace Identity {

inline constexpr char Organisation[] = "VRZ";
inline constexpr char Application[] = "tavrold";

// "2.00", and as the window title shows it, "V2.00".
QString version();
QString versionText();

} // namespace Identity

#endif // IDENTITY_H
