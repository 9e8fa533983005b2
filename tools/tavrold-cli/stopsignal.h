#ifndef STOPSIGNAL_H
#define STOPSIGNAL_H

// Ctrl-C, SIGTERM and SIGHUP as a request to stop, not as the end of the
// process: the handler only notes the signal, and the tool ends its command
// cleanly (sends "#c;", writes what it must) when it next looks. Broken pipes
// become write errors instead of killing the tool.
namespace StopSignal {

void install();
bool requested();

// Sleeps for msecs, in short slices so that a stop is seen within a tenth of
// a second; false when a stop was requested.
bool sleep(int msecs);

// The longest the tool waits before it looks for a stop again.
inline constexpr int SliceMs = 100;

} // namespace StopSignal

#endif // STOPSIGNAL_H
