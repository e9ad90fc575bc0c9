// The seam to the terminal the program runs in: its two output streams, the answers
// typed on standard input, and what an interrupt (Ctrl-C) does. Each method is one
// platform concern; every decision is made by the callers.
#pragma once

#include <cstdint>
#include <string>

enum class OutputStream { Out, Error };

class Terminal {
public:
    virtual ~Terminal() = default;

    // Writes UTF-8 text with "\n" line ends as the platform shows it.
    virtual void Write(OutputStream stream, const std::string& text) = 0;
    // Writes a progress line drawn over the one before on standard output; while it
    // waits to be written, a newer one may take its place.
    virtual void WriteProgress(const std::string& text) = 0;
    virtual bool InputIsTerminal() = 0;
    virtual bool OutputIsTerminal() = 0;
    // Reads one line typed on standard input, without its line end; false at its end.
    virtual bool ReadLine(std::string& line) = 0;
    // Throws away what was typed and not yet read, so that keys pressed during the
    // transfer cannot answer a later question.
    virtual void DiscardInput() = 0;

    // Makes ready what writing needs while the command sequence runs, so that no output
    // can hold the sequence up; false when that cannot be had. From then on text may lag
    // behind, but all of it is written before an interrupt may end the program
    // (EndOnInterrupt).
    virtual bool PrepareSequence() = 0;

    // What an interrupt (Ctrl-C, and the signals that end a program from its terminal)
    // does from now on: write text to the error stream and end the program with
    // exitStatus at once. Returns once everything written before has been written.
    virtual void EndOnInterrupt(const std::string& text, std::int32_t exitStatus) = 0;
    // From now on an interrupt does not end the program: text is written to the error
    // stream (by a writer that cannot hold the program up), and the program goes on.
    virtual void RefuseInterrupt(const std::string& text) = 0;
};
