#ifndef EXITCODE_H
#define EXITCODE_H

// What tavrold-cli returns to its caller; listed in its help and manual.
enum ExitCode {
    ExitOk = 0,                 // done as asked
    ExitNoMeter = 1,            // no meter answered, or the meter went away
    ExitBadUsage = 2,           // the command line was wrong
    ExitDownloadIncomplete = 3, // the download stopped before its last data set
    ExitFileNotWritten = 4,     // the file (or the output) could not be written
    ExitOutOfLimits = 5         // check: a result lay outside the limits
};

#endif // EXITCODE_H
