#ifndef STOPSIGNAL_H
#define STOPSIGNAL_H

// Ctrl-C, SIGTERM and SIGHUP as a request to stop, not as the end of the
// process: the handler only notes the signal, and the tool ends its command
// cleanly (sends "#c;", writes what it must) when it next looks. Broken pipes
// become write errors instead of killing the tool.
class StopSignal
{
public:
    static void install();
    static bool requested();

    // Sleeps for msecs, in short slices so that a stop is seen within a
    // tenth of a second; false when a stop was requested.
    static bool sleep(int msecs);

    // The longest the tool waits before it looks for a stop again.
    static constexpr int SliceMs = 100;
};

#endif // STOPSIGNAL_H
