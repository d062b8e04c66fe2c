#pragma once

// Where the serial reader delivers received, sanitised chunks (see
// WantsEscapesAndHighBytes): the received-text queue in the application
// (CReceivedTextQueue), a recorder in tests.
class ITerminalSink {
public:
    virtual ~ITerminalSink() = default;
    // Called on the reader thread with a NUL-terminated chunk of 0 to 100
    // bytes; returns once the chunk is shown (or accepted for showing in the
    // current frame). Must not block forever: see AbortDelivery.
    virtual void AppendReceivedText(const char* chunk) = 0;
    // True while the sink shows escape sequences or UTF-8 itself: the chunks
    // then keep ESC and the bytes above 0x7F as they came. Read by the reader
    // before each chunk.
    virtual bool WantsEscapesAndHighBytes() const { return false; }
    // Called by the engine's Close from any thread before it joins the
    // reader: a reader blocked inside AppendReceivedText must return promptly.
    virtual void AbortDelivery() {}
    // Called by the engine before it starts the threads of a new opening.
    virtual void ResumeDelivery() {}
};
