#ifndef PUBLISH_H
#define PUBLISH_H

class CliArguments;

// "publish": finds the meter, switches it to streaming and sends its
// readings to an MQTT broker until a stop signal comes; a lost meter is
// searched for again, a lost broker connected again. The tool's exit code.
int publish(const CliArguments &arguments);

#endif // PUBLISH_H
