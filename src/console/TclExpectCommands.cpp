// expect, in the manner of the Expect extension, over the bytes a device
// sends: expect, exp_continue, send, expect_flush, match_max and
// expect_background, on the window's port or, after "-i chan", on a Tcl
// channel the script opened itself.
//
// The match buffer holds bytes; scripts see each byte as one character
// 0..255 (the form `binary format` gives and `send -raw` takes), so NUL and
// bytes above 0x7F pass unchanged. Patterns are matched in the same form.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/CancelSignal.h"
#include "console/ExpectSource.h"
#include "console/GlobFind.h"
#include "console/TclCommands.h"
#include "console/TclHost.h"
#include "serial/MatchBuffer.h"
#include "serial/SerialPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// What exp_continue returns to the expect whose body it ends: wait again
// with the timeout restarted, or (-continue_timer) with the same deadline.
constexpr int kExpContinue = -101;
constexpr int kExpContinueTimer = -102;
constexpr double kDefaultTimeoutSeconds = 10;
const char kNoPortExpect[] = "Error : No Port Open to expect data from";
const char kNoPortSend[] = "Error : No Port Open to send data out";
const char kStateKey[] = "vorla::expect";

Tcl_Obj* BytesObj(std::string_view bytes, std::size_t from = 0, std::size_t to = std::string::npos)
{
    to = std::min(to, bytes.size());
    return Tcl_NewByteArrayObj(reinterpret_cast<const unsigned char*>(bytes.data()) + from,
                               static_cast<int>(to - from));
}

// The characters of obj as bytes, when each is 0..255; otherwise the index
// of the first one that is not.
bool CharsToBytes(Tcl_Obj* obj, std::string& bytes, int& badIndex, int& badChar)
{
    int length = 0;
    const Tcl_UniChar* chars = Tcl_GetUnicodeFromObj(obj, &length);
    bytes.resize(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        if (chars[i] > 0xFF) {
            badIndex = i;
            badChar = chars[i];
            return false;
        }
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(chars[i]);
    }
    return true;
}


// The interpreter's expect state; Tcl thread only.
struct SExpectState {
    Tcl_Interp* interp = nullptr;
    ITclCommandContext* context = nullptr;
    Tcl_ThreadId thread = nullptr;
    Tcl_ObjCmdProc* originalAfter = nullptr;
    ClientData originalAfterData = nullptr;

    int foreground = 0;          // expects waiting now: background triggers wait for them
    bool inBackground = false;   // a trigger's body runs now
    bool deferred = false;       // a trigger was put off; run the triggers when free
    std::map<std::string, std::shared_ptr<CChannelSource>> channels; // by channel name

    CMatchView portView; // of the port's buffer
    std::shared_ptr<const CPatternList> portBackground;
    CMatchBuffer* listened = nullptr; // the port's buffer that calls PortChanged
    uint64_t portEofEpoch = 0;        // the opening whose end the port's eof trigger has seen
    std::atomic<bool> portQueued{false};
};

SExpectState* State(Tcl_Interp* interp)
{
    return static_cast<SExpectState*>(Tcl_GetAssocData(interp, kStateKey, nullptr));
}

void RunBackground(SExpectState* state);
void ChannelReadable(ClientData data, int);

void BackgroundEvent(void* data) { RunBackground(static_cast<SExpectState*>(data)); }

void PortEvent(void* data)
{
    auto* state = static_cast<SExpectState*>(data);
    state->portQueued = false;
    RunBackground(state);
}

// The reader thread's news for the Tcl thread; coalesced to one queued event.
void QueuePortTriggers(SExpectState* state)
{
    if (!state->portQueued.exchange(true))
        QueueTclThreadEvent(state->thread, PortEvent, state);
}

// A channel that a source reads is closing.
struct SClosing {
    SExpectState* state;
    std::string key;
    Tcl_Channel channel;
};

// Tcl drops the channel's handlers itself; the source (which a running
// expect may still hold) stops reading and sees the end.
void ChannelClosing(ClientData data)
{
    std::unique_ptr<SClosing> closing(static_cast<SClosing*>(data));
    auto it = closing->state->channels.find(closing->key);
    if (it == closing->state->channels.end() || it->second->Channel() != closing->channel)
        return;
    it->second->Closed();
    it->second->closeHandlerData = nullptr;
    closing->state->channels.erase(it);
}

void DeleteState(ClientData data, Tcl_Interp*)
{
    auto* state = static_cast<SExpectState*>(data);
    // The interpreter's channels close after this: their handlers must not find the state.
    for (auto& entry : state->channels) {
        CChannelSource& source = *entry.second;
        if (source.Channel() && source.closeHandlerData) {
            Tcl_DeleteCloseHandler(source.Channel(), ChannelClosing, source.closeHandlerData);
            if (source.handlerSet)
                Tcl_DeleteChannelHandler(source.Channel(), ChannelReadable, state);
            delete static_cast<SClosing*>(source.closeHandlerData);
        }
    }
    if (state->listened)
        state->listened->SetListener({}); // the reader queues no more events
    DropTclThreadEvents(PortEvent, state);
    DropTclThreadEvents(BackgroundEvent, state);
    delete state;
}

// ---- reading the arguments ----

// "-i chan": the channel's source, made on first use and dropped when the
// channel closes.
std::shared_ptr<CChannelSource> ChannelSource(SExpectState* state, Tcl_Obj* name)
{
    const std::string key = Tcl_GetString(name);
    Tcl_Channel channel = Tcl_GetChannel(state->interp, key.c_str(), nullptr);
    if (!channel)
        return nullptr;
    auto& source = state->channels[key];
    if (!source || source->Channel() != channel) {
        source = std::make_shared<CChannelSource>(channel, state->thread);
        source->closeHandlerData = new SClosing{state, key, channel};
        Tcl_CreateCloseHandler(channel, ChannelClosing, source->closeHandlerData);
    }
    return source;
}

// The window's port as a source; null with the error set when no port is open.
std::unique_ptr<CByteSource> PortSource(Tcl_Interp* interp, ITclCommandContext* context)
{
    ITclHostOwner* owner = context->Owner();
    if (!owner || owner->OpenPort() == 0) {
        Fail(interp, kNoPortExpect);
        return nullptr;
    }
    return std::make_unique<CPortSource>(owner->SerialPort().MatchBuffer(), State(interp)->portView);
}

// Seconds as expect takes them: fractions allowed, -1 waits for ever.
bool ReadTimeout(Tcl_Interp* interp, Tcl_Obj* value, std::optional<Clock::duration>& timeout)
{
    double seconds = 0;
    if (Tcl_GetDoubleFromObj(interp, value, &seconds) != TCL_OK)
        return false;
    if (seconds == -1 || seconds > 1e9) {
        timeout.reset();
        return true;
    }
    if (!(seconds >= 0)) {
        Fail(interp, std::string("Error : timeout must be -1 (wait for ever) or seconds from 0 up, not ") +
                         Tcl_GetString(value));
        return false;
    }
    timeout = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    return true;
}

// The variable timeout, local first and then global, as Expect reads it.
bool TimeoutVariable(Tcl_Interp* interp, std::optional<Clock::duration>& timeout)
{
    Tcl_Obj* value = Tcl_GetVar2Ex(interp, "timeout", nullptr, 0);
    if (!value)
        value = Tcl_GetVar2Ex(interp, "timeout", nullptr, TCL_GLOBAL_ONLY);
    if (!value) {
        timeout = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kDefaultTimeoutSeconds));
        return true;
    }
    if (ReadTimeout(interp, value, timeout))
        return true;
    Tcl_AppendResult(interp, " (in the variable timeout)", nullptr);
    return false;
}

// A single argument that starts on a new line is the braced form: its
// words, substituted as Tcl substitutes a command's, are the arguments.
bool IsBracedForm(Tcl_Obj* arg)
{
    bool newline = false;
    for (const char* p = Tcl_GetString(arg); *p; ++p) {
        if (*p == '\n')
            newline = true;
        else if (!std::isspace(static_cast<unsigned char>(*p)))
            return newline;
    }
    return false;
}

bool ExpandBraced(Tcl_Interp* interp, Tcl_Obj* arg, std::vector<CObjRef>& words)
{
    int length = 0;
    const char* text = Tcl_GetStringFromObj(arg, &length);
    const char* end = text + length;
    for (const char* p = text; p < end;) {
        Tcl_Parse parse;
        if (Tcl_ParseCommand(interp, p, static_cast<int>(end - p), 0, &parse) != TCL_OK)
            return false;
        Tcl_Token* token = parse.tokenPtr;
        for (int w = 0; w < parse.numWords; ++w) {
            if (Tcl_EvalTokensStandard(interp, token + 1, token->numComponents) != TCL_OK) {
                Tcl_FreeParse(&parse);
                return false;
            }
            words.emplace_back(Tcl_GetObjResult(interp));
            token += token->numComponents + 1;
        }
        p = parse.commandStart + parse.commandSize;
        Tcl_FreeParse(&parse);
    }
    Tcl_ResetResult(interp);
    return true;
}

// Turns a pattern into its kind's ready form; a regexp is compiled now, so
// that a bad one is refused before anything happens.
bool PreparePattern(Tcl_Interp* interp, SPattern& p)
{
    int badIndex = 0, badChar = 0;
    if (!CharsToBytes(p.pattern.Get(), p.bytes, badIndex, badChar)) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(badChar));
        return Fail(interp, std::string("Error : pattern \"") + Tcl_GetString(p.pattern.Get()) +
                                "\" has a character above 255 (" + code +
                                "); expect matches bytes: use [encoding convertto utf-8 ...]") == TCL_OK;
    }
    if (p.kind == EKind::Regexp)
        return Tcl_GetRegExpFromObj(interp, p.pattern.Get(), TCL_REG_ADVANCED | (p.nocase ? TCL_REG_NOCASE : 0)) !=
               nullptr;
    return true;
}

struct SExpectArgs {
    Tcl_Obj* channel = nullptr; // an argument of the command itself
    CObjRef timeout;            // held: in the braced form it is a word of the parsed list
    CPatternList patterns;
};

// expect's and expect_background's arguments:
//   ?-i chan? ?-timeout s? then pairs of ?-nocase? ?-gl|-re|-ex? ?--? pattern body,
// where pattern may be the keyword timeout, eof or default; `expect pattern`
// alone has no body; one argument starting on a new line is the braced form.
bool ParseExpectArgs(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], const char* command, SExpectArgs& out)
{
    const std::string usage = std::string("Error : wrong # args: should be \"") + command +
                              " ?-i chan? ?-timeout seconds? ?-nocase? ?-gl|-re|-ex? pattern body ...\"";
    std::vector<CObjRef> words;
    int i = 1;
    for (; i < objc; ++i) {
        const std::string w = Tcl_GetString(objv[i]);
        if (w != "-i" && w != "-timeout")
            break;
        if (i + 1 >= objc)
            return Fail(interp, "Error : " + w + " needs a value") == TCL_OK;
        if (w == "-i")
            out.channel = objv[++i];
        else
            out.timeout = CObjRef(objv[++i]);
    }
    if (objc - i == 1 && IsBracedForm(objv[i])) {
        if (!ExpandBraced(interp, objv[i], words))
            return false;
    } else {
        for (; i < objc; ++i)
            words.emplace_back(objv[i]);
    }

    SPattern next;
    bool flagged = false; // -gl/-re/-ex given: a keyword is a plain pattern
    for (std::size_t k = 0; k < words.size(); ++k) {
        const std::string w = Tcl_GetString(words[k].Get());
        bool isPattern = w.empty() || w[0] != '-';
        if (!isPattern) {
            if (w == "--") {
                if (++k >= words.size())
                    return Fail(interp, "Error : -- must be followed by a pattern") == TCL_OK;
                isPattern = true;
            } else if (w == "-nocase") {
                next.nocase = true;
            } else if (w == "-gl" || w == "-re" || w == "-ex") {
                next.kind = w == "-gl" ? EKind::Glob : w == "-re" ? EKind::Regexp : EKind::Exact;
                flagged = true;
            } else if (w == "-timeout") {
                if (++k >= words.size())
                    return Fail(interp, "Error : -timeout needs a value") == TCL_OK;
                out.timeout = words[k];
            } else if (w == "-i") {
                return Fail(interp, std::string("Error : -i must come before the patterns of ") + command) ==
                       TCL_OK;
            } else {
                return Fail(interp, "Error : unknown option \"" + w +
                                        "\": should be -i, -timeout, -nocase, -gl, -re, -ex or --") == TCL_OK;
            }
            if (!isPattern)
                continue;
        }
        next.pattern = words[k];
        const std::string text = Tcl_GetString(next.pattern.Get());
        if (!flagged && (text == "timeout" || text == "eof" || text == "default"))
            next.kind = text == "timeout" ? EKind::Timeout : text == "eof" ? EKind::Eof : EKind::Default;
        if (k + 1 < words.size()) {
            next.body = words[++k];
        } else if (!out.patterns.empty() || next.kind == EKind::Timeout || next.kind == EKind::Eof ||
                   next.kind == EKind::Default) {
            return Fail(interp, "Error : pattern \"" + text + "\" has no body") == TCL_OK;
        }
        if (!PreparePattern(interp, next))
            return false;
        out.patterns.push_back(std::move(next));
        next = SPattern();
        flagged = false;
    }
    if (next.nocase || flagged)
        return Fail(interp, "Error : an option is not followed by a pattern") == TCL_OK;
    if (out.patterns.empty() && std::string(command) == "expect")
        return Fail(interp, usage) == TCL_OK;
    return true;
}

// ---- matching ----

struct SMatch {
    std::size_t pattern = 0;
    std::size_t end = 0;                          // in the snapshot: consumed up to here
    std::vector<std::pair<long, long>> groups;    // 0..9: [start, end), -1 when a group took no part
};

// The first listed pattern found in the view. -1 with an error set when a
// regexp fails to run.
int FindFirst(Tcl_Interp* interp, const CPatternList& patterns, CMatchView& view, SMatch& match)
{
    const std::string_view bytes = view.Bytes();
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        const SPattern& p = patterns[i];
        SFoundSpan span;
        if (p.kind == EKind::Glob || p.kind == EKind::Exact) {
            const bool found = p.kind == EKind::Glob ? FindGlob(bytes, p.bytes, p.nocase, span)
                                                     : FindExact(bytes, p.bytes, p.nocase, span);
            if (found) {
                match.pattern = i;
                match.end = span.end;
                match.groups = {{static_cast<long>(span.start), static_cast<long>(span.end)}};
                return 1;
            }
        } else if (p.kind == EKind::Regexp) {
            int offset = 0;
            Tcl_Obj* text = view.Chars(offset);
            Tcl_RegExp re =
                Tcl_GetRegExpFromObj(interp, p.pattern.Get(), TCL_REG_ADVANCED | (p.nocase ? TCL_REG_NOCASE : 0));
            if (!re)
                return -1;
            // ^ anchors at the view's start: the oldest byte held.
            const int r = Tcl_RegExpExecObj(interp, re, text, offset, 10, 0);
            if (r < 0)
                return -1;
            if (r > 0) {
                Tcl_RegExpInfo info;
                Tcl_RegExpGetInfo(re, &info);
                match.pattern = i;
                match.end = static_cast<std::size_t>(info.matches[0].end);
                match.groups.clear();
                for (int g = 0; g <= info.nsubs && g <= 9; ++g)
                    match.groups.emplace_back(info.matches[g].start, info.matches[g].end);
                return 1;
            }
        }
    }
    return 0;
}

int Keyword(const CPatternList& patterns, EKind kind)
{
    for (std::size_t i = 0; i < patterns.size(); ++i)
        if (patterns[i].kind == kind)
            return static_cast<int>(i);
    return -1;
}

bool SetOut(Tcl_Interp* interp, const char* key, Tcl_Obj* value, int flags)
{
    return Tcl_SetVar2Ex(interp, "expect_out", key, value, flags | TCL_LEAVE_ERR_MSG) != nullptr;
}

// expect_out(0..9,string) and expect_out(buffer) for a match in bytes.
bool SetMatchVariables(Tcl_Interp* interp, const SMatch& match, std::string_view bytes, int flags)
{
    for (std::size_t g = 0; g < match.groups.size(); ++g) {
        const auto [start, end] = match.groups[g];
        const std::string key = std::to_string(g) + ",string";
        Tcl_Obj* value = start < 0 ? Tcl_NewObj() : BytesObj(bytes, static_cast<std::size_t>(start),
                                                              static_cast<std::size_t>(end));
        if (!SetOut(interp, key.c_str(), value, flags))
            return false;
    }
    return SetOut(interp, "buffer", BytesObj(bytes, 0, match.end), flags);
}

// ---- expect ----

// Holds background triggers off while a foreground expect waits; runs the
// ones put off meanwhile once it is done.
class CForeground {
public:
    explicit CForeground(SExpectState* state) : m_state(state) { ++m_state->foreground; }
    ~CForeground()
    {
        if (--m_state->foreground == 0 && m_state->deferred) {
            m_state->deferred = false;
            QueueTclThreadEvent(m_state->thread, BackgroundEvent, m_state);
        }
    }
    CForeground(const CForeground&) = delete;
    CForeground& operator=(const CForeground&) = delete;

private:
    SExpectState* m_state;
};

int RunBody(Tcl_Interp* interp, const SPattern& p)
{
    if (!p.body.Get())
        return TCL_OK;
    const int code = Tcl_EvalObjEx(interp, p.body.Get(), 0);
    if (code == TCL_ERROR)
        Tcl_AddErrorInfo(interp, "\n    (body of an expect pattern)");
    return code;
}

int ExpectCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    ITclCommandContext* context = Context(clientData);
    SExpectState* state = State(interp);
    SExpectArgs args;
    if (!ParseExpectArgs(interp, objc, objv, "expect", args))
        return TCL_ERROR;
    std::optional<Clock::duration> timeout;
    if (!(args.timeout.Get() ? ReadTimeout(interp, args.timeout.Get(), timeout) : TimeoutVariable(interp, timeout)))
        return TCL_ERROR;
    std::shared_ptr<CChannelSource> channel;
    std::unique_ptr<CByteSource> port;
    if (args.channel) {
        if (!(channel = ChannelSource(state, args.channel)))
            return TCL_ERROR;
    } else if (!(port = PortSource(interp, context))) {
        return TCL_ERROR;
    }
    CByteSource& source = channel ? static_cast<CByteSource&>(*channel) : *port;
    const CCancelSignal* cancel = context->CancelSignal();
    CMatchBuffer& buffer = source.Buffer();
    CMatchView& view = source.View();

    auto deadlineFrom = [&] { return timeout ? Deadline(Clock::now() + *timeout) : Deadline(); };
    Deadline deadline = deadlineFrom();
    for (;;) {
        const SPattern* chosen = nullptr;
        {
            CForeground waiting(state);
            for (;;) {
                source.Pull();
                const CMatchBuffer::SSnapshot snap = view.Refresh(buffer);
                SetOut(interp, "dropped", Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(snap.dropped)), 0);
                SMatch match;
                const int found = FindFirst(interp, args.patterns, view, match);
                if (found < 0)
                    return TCL_ERROR;
                if (found > 0) {
                    const bool set = SetMatchVariables(interp, match, view.Bytes(), 0);
                    buffer.ConsumeTo(view.Start() + match.end);
                    view.ConsumeTo(view.Start() + match.end);
                    if (!set)
                        return TCL_ERROR;
                    chosen = &args.patterns[match.pattern];
                    break;
                }
                if (snap.eof) {
                    // What is left goes with the end, as in Expect.
                    const bool set = SetOut(interp, "buffer", BytesObj(view.Bytes()), 0);
                    const uint64_t end = view.Start() + view.Bytes().size();
                    buffer.ConsumeTo(end);
                    view.ConsumeTo(end);
                    if (!set)
                        return TCL_ERROR;
                    int k = Keyword(args.patterns, EKind::Eof);
                    if (k < 0)
                        k = Keyword(args.patterns, EKind::Default);
                    chosen = k >= 0 ? &args.patterns[static_cast<std::size_t>(k)] : nullptr;
                    break;
                }
                const CMatchBuffer::EWait w = source.Wait(snap.generation, deadline, cancel);
                if (w == CMatchBuffer::EWait::Cancelled)
                    return CancelledResult(interp);
                if (w == CMatchBuffer::EWait::TimedOut) {
                    int k = Keyword(args.patterns, EKind::Timeout);
                    if (k < 0)
                        k = Keyword(args.patterns, EKind::Default);
                    chosen = k >= 0 ? &args.patterns[static_cast<std::size_t>(k)] : nullptr;
                    break;
                }
            }
        }
        Tcl_ResetResult(interp);
        if (!chosen)
            return TCL_OK;
        const int code = RunBody(interp, *chosen);
        if (code == kExpContinue)
            deadline = deadlineFrom();
        else if (code != kExpContinueTimer)
            return code;
        Tcl_ResetResult(interp);
    }
}

int ExpContinueCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc == 1)
        return kExpContinue;
    if (objc == 2 && std::string(Tcl_GetString(objv[1])) == "-continue_timer")
        return kExpContinueTimer;
    return Fail(interp, "Error : wrong # args: should be \"exp_continue ?-continue_timer?\"");
}

// ---- send, expect_flush, match_max ----

int SendCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    ITclCommandContext* context = Context(clientData);
    const char usage[] = "Error : wrong # args: should be \"send ?-i chan? ?-raw? ?--? string\"";
    Tcl_Obj* channelName = nullptr;
    bool raw = false;
    int i = 1;
    for (; i < objc; ++i) {
        const std::string w = Tcl_GetString(objv[i]);
        if (w == "-i" && i + 1 < objc)
            channelName = objv[++i];
        else if (w == "-raw")
            raw = true;
        else if (w == "--") {
            ++i;
            break;
        } else if (w.size() > 1 && w[0] == '-' && i + 1 < objc)
            return Fail(interp, "Error : unknown option \"" + w + "\": should be -i chan, -raw or --");
        else
            break;
    }
    if (objc - i != 1)
        return Fail(interp, usage);
    std::string bytes;
    if (raw) {
        int badIndex = 0, badChar = 0;
        if (!CharsToBytes(objv[i], bytes, badIndex, badChar)) {
            char code[16];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(badChar));
            return Fail(interp, "Error : send -raw: character " + std::to_string(badIndex) + " (" + code +
                                    ") is above 255; nothing sent");
        }
    } else {
        int length = 0;
        const char* chars = Tcl_GetStringFromObj(objv[i], &length);
        Tcl_Encoding utf8 = Tcl_GetEncoding(nullptr, "utf-8");
        Tcl_DString converted;
        Tcl_UtfToExternalDString(utf8, chars, length, &converted);
        bytes.assign(Tcl_DStringValue(&converted), static_cast<std::size_t>(Tcl_DStringLength(&converted)));
        Tcl_DStringFree(&converted);
        Tcl_FreeEncoding(utf8);
    }
    if (channelName) {
        Tcl_Channel channel = Tcl_GetChannel(interp, Tcl_GetString(channelName), nullptr);
        if (!channel)
            return TCL_ERROR;
        Tcl_Flush(channel); // what the script wrote with puts goes first
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int n = Tcl_WriteRaw(channel, bytes.data() + sent, static_cast<int>(bytes.size() - sent));
            if (n < 0)
                return Fail(interp, "Error : sent " + std::to_string(sent) + " of " + std::to_string(bytes.size()) +
                                        " bytes: " + Tcl_ErrnoMsg(Tcl_GetErrno()));
            sent += static_cast<std::size_t>(n);
        }
        return TCL_OK;
    }
    ITclHostOwner* owner = context->Owner();
    if (!owner || owner->OpenPort() == 0)
        return Fail(interp, kNoPortSend);
    const SSendReport report = owner->SerialPort().SendText(bytes, context->CancelSignal());
    const CCancelSignal* cancel = context->CancelSignal();
    if (cancel && cancel->IsCancelled())
        return CancelledResult(interp);
    if (!report.Complete())
        return Fail(interp, "Error : sent " + std::to_string(report.sent) + " of " + std::to_string(report.total) +
                                " bytes: " + SendStatusText(report.status));
    return TCL_OK;
}

// The buffer of "?-i chan?" at objv[1], for commands that work with or
// without an open port (the engine's buffer outlives its openings).
// Returns the index of the first value, or -1 with the error set.
int BufferOf(Tcl_Interp* interp, ITclCommandContext* context, int objc, Tcl_Obj* const objv[], const char* usage,
             int maxValues, CMatchBuffer*& buffer)
{
    int first = 1;
    std::shared_ptr<CChannelSource> channel;
    const std::string option = objc > 1 ? Tcl_GetString(objv[1]) : "";
    if (option == "-i") {
        if (objc < 3) {
            Fail(interp, usage);
            return -1;
        }
        if (!(channel = ChannelSource(State(interp), objv[2])))
            return -1;
        first = 3;
    } else if (option.size() > 1 && option[0] == '-' && !std::isdigit(static_cast<unsigned char>(option[1]))) {
        Fail(interp, "Error : unknown option \"" + option + "\": should be -i chan");
        return -1;
    }
    if (objc - first > maxValues) {
        Fail(interp, usage);
        return -1;
    }
    if (channel) {
        channel->Pull(); // what has arrived so far belongs to the buffer
        buffer = &channel->Buffer();
    } else {
        ITclHostOwner* owner = context->Owner();
        buffer = owner ? &owner->SerialPort().MatchBuffer() : nullptr;
    }
    return first;
}

int ExpectFlushCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    CMatchBuffer* buffer = nullptr;
    if (BufferOf(interp, Context(clientData), objc, objv,
                 "Error : wrong # args: should be \"expect_flush ?-i chan?\"", 0, buffer) < 0)
        return TCL_ERROR;
    if (buffer)
        buffer->Clear();
    return TCL_OK;
}

int MatchMaxCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    CMatchBuffer* buffer = nullptr;
    const int first = BufferOf(interp, Context(clientData), objc, objv,
                               "Error : wrong # args: should be \"match_max ?-i chan? ?bytes?\"", 1, buffer);
    if (first < 0)
        return TCL_ERROR;
    if (first < objc) {
        int size = 0;
        if (!ReadSetting(interp, objv[first], "match_max", "bytes", "Error : match_max must be at least 1 byte",
                         size))
            return TCL_ERROR;
        if (size < 1)
            return Fail(interp, "Error : match_max must be at least 1 byte");
        if (buffer)
            buffer->SetMax(static_cast<std::size_t>(size));
    }
    const std::size_t max = buffer ? buffer->Max() : CMatchBuffer::kDefaultMax;
    Tcl_SetObjResult(interp, Tcl_NewWideIntObj(static_cast<Tcl_WideInt>(max)));
    return TCL_OK;
}

// ---- expect_background ----

// Runs the triggers of one source while one of its patterns is found: the
// first listed wins, its match is consumed, expect_out is set and the body
// runs at global level; an error goes to bgerror, as Tcl's event handlers'
// errors do.
void RunTriggers(SExpectState* state, CByteSource& source, const std::shared_ptr<const CPatternList>& patterns,
                 uint64_t* eofEpoch)
{
    Tcl_Interp* interp = state->interp;
    CMatchBuffer& buffer = source.Buffer();
    CMatchView& view = source.View();
    for (;;) {
        source.Pull();
        const CMatchBuffer::SSnapshot snap = view.Refresh(buffer);
        SMatch match;
        const int found = FindFirst(interp, *patterns, view, match);
        const SPattern* chosen = nullptr;
        int code = TCL_OK;
        if (found < 0) {
            code = TCL_ERROR;
        } else if (found > 0) {
            chosen = &(*patterns)[match.pattern];
            if (!SetMatchVariables(interp, match, view.Bytes(), TCL_GLOBAL_ONLY))
                code = TCL_ERROR;
            buffer.ConsumeTo(view.Start() + match.end);
            view.ConsumeTo(view.Start() + match.end);
        } else if (snap.eof && *eofEpoch != snap.epoch + 1) {
            *eofEpoch = snap.epoch + 1; // once per opening
            const int k = Keyword(*patterns, EKind::Eof);
            if (k < 0)
                return;
            chosen = &(*patterns)[static_cast<std::size_t>(k)];
            if (!SetOut(interp, "buffer", BytesObj(view.Bytes()), TCL_GLOBAL_ONLY))
                code = TCL_ERROR;
            const uint64_t end = view.Start() + view.Bytes().size();
            buffer.ConsumeTo(end);
            view.ConsumeTo(end);
        } else {
            return;
        }
        if (code == TCL_OK && chosen && chosen->body.Get()) {
            code = Tcl_EvalObjEx(interp, chosen->body.Get(), TCL_EVAL_GLOBAL);
            if (code == TCL_ERROR)
                Tcl_AddErrorInfo(interp, "\n    (body of an expect_background pattern)");
        }
        if (code == TCL_ERROR) {
            Tcl_BackgroundException(interp, code);
            if (found < 0)
                return;
        }
        Tcl_ResetResult(interp);
        if (chosen && chosen->kind == EKind::Eof)
            return;
    }
}

// Runs every source's triggers, unless a foreground expect waits or a
// trigger's body runs now (it may be in vwait): then later.
void ChannelReadable(ClientData data, int);

void RunBackground(SExpectState* state)
{
    if (state->foreground > 0 || state->inBackground) {
        state->deferred = true;
        return;
    }
    state->inBackground = true;
    if (std::shared_ptr<const CPatternList> patterns = state->portBackground; patterns && state->listened) {
        CPortSource port(*state->listened, state->portView);
        RunTriggers(state, port, patterns, &state->portEofEpoch);
    }
    // Copies: a body may close a channel or change the triggers.
    std::vector<std::shared_ptr<CChannelSource>> channels;
    for (auto& entry : state->channels)
        channels.push_back(entry.second);
    for (auto& channel : channels) {
        if (std::shared_ptr<const CPatternList> patterns = channel->background) {
            uint64_t eofEpoch = 0;
            RunTriggers(state, *channel, patterns, &eofEpoch);
            if (channel->Buffer().Snapshot(UINT64_MAX).eof) {
                // Handled once: a channel at its end stays readable for ever.
                channel->background.reset();
                if (channel->handlerSet && channel->Channel())
                    Tcl_DeleteChannelHandler(channel->Channel(), ChannelReadable, state);
                channel->handlerSet = false;
            }
        }
    }
    state->inBackground = false;
    if (state->deferred) {
        state->deferred = false;
        QueueTclThreadEvent(state->thread, BackgroundEvent, state);
    }
}

void ChannelReadable(ClientData data, int)
{
    auto* state = static_cast<SExpectState*>(data);
    RunBackground(state);
}

int ExpectBackgroundCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    ITclCommandContext* context = Context(clientData);
    SExpectState* state = State(interp);
    SExpectArgs args;
    if (!ParseExpectArgs(interp, objc, objv, "expect_background", args))
        return TCL_ERROR;
    if (args.timeout.Get())
        return Fail(interp, "Error : expect_background takes no -timeout");
    for (const SPattern& p : args.patterns) {
        if (!p.body.Get() || p.kind == EKind::Timeout || p.kind == EKind::Default)
            return Fail(interp, std::string("Error : expect_background pattern \"") + Tcl_GetString(p.pattern.Get()) +
                                    "\" needs a body (timeout and default do not apply)");
    }
    auto patterns =
        args.patterns.empty() ? nullptr : std::make_shared<const CPatternList>(std::move(args.patterns));
    if (args.channel) {
        std::shared_ptr<CChannelSource> channel = ChannelSource(state, args.channel);
        if (!channel)
            return TCL_ERROR;
        channel->background = patterns;
        if (patterns && !channel->handlerSet)
            Tcl_CreateChannelHandler(channel->Channel(), TCL_READABLE, ChannelReadable, state);
        else if (!patterns && channel->handlerSet)
            Tcl_DeleteChannelHandler(channel->Channel(), ChannelReadable, state);
        channel->handlerSet = patterns != nullptr;
    } else {
        ITclHostOwner* owner = context->Owner();
        if (!owner)
            return TCL_OK;
        CMatchBuffer& buffer = owner->SerialPort().MatchBuffer();
        state->portBackground = patterns;
        if (patterns && state->listened != &buffer) {
            state->listened = &buffer;
            const CMatchBuffer::SSnapshot now = buffer.Snapshot(UINT64_MAX);
            state->portEofEpoch = now.eof ? now.epoch + 1 : 0;
            buffer.SetListener([state] { QueuePortTriggers(state); });
        } else if (!patterns && state->listened) {
            state->listened->SetListener({});
            state->listened = nullptr;
        }
    }
    if (patterns)
        QueueTclThreadEvent(state->thread, BackgroundEvent, state); // what is already there counts
    return TCL_OK;
}

// ---- after ----

// `after ms` services the event loop while it waits (Tcl's own sleeps
// without it), so that expect_background triggers and after scripts run
// during a script's pauses. Every other form is Tcl's own.
int AfterCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto* state = static_cast<SExpectState*>(clientData);
    Tcl_WideInt ms = 0;
    if (objc != 2 || Tcl_GetWideIntFromObj(nullptr, objv[1], &ms) != TCL_OK || ms <= 0 || ms > INT_MAX)
        return state->originalAfter(state->originalAfterData, interp, objc, objv);
    const CCancelSignal* cancel = state->context->CancelSignal();
    bool done = false;
    Tcl_TimerToken timer =
        Tcl_CreateTimerHandler(static_cast<int>(ms), [](ClientData flag) { *static_cast<bool*>(flag) = true; }, &done);
    CCancelSignal::Subscription wake;
    if (cancel)
        wake = cancel->OnCancel([thread = state->thread] { QueueTclThreadEvent(thread, nullptr, nullptr); });
    while (!done) {
        if (cancel && cancel->IsCancelled()) {
            Tcl_DeleteTimerHandler(timer);
            return CancelledResult(interp);
        }
        Tcl_DoOneEvent(TCL_ALL_EVENTS);
        if (Tcl_Canceled(interp, TCL_LEAVE_ERR_MSG) == TCL_ERROR) {
            if (!done)
                Tcl_DeleteTimerHandler(timer);
            return TCL_ERROR;
        }
    }
    return TCL_OK;
}

} // namespace

void RegisterExpectCommands(Tcl_Interp* interp, ITclCommandContext* context)
{
    auto* state = new SExpectState;
    state->interp = interp;
    state->context = context;
    state->thread = Tcl_GetCurrentThread();
    Tcl_SetAssocData(interp, kStateKey, DeleteState, state);

    const struct {
        const char* name;
        Tcl_ObjCmdProc* proc;
    } commands[] = {
        {"expect", ExpectCmd},           {"exp_continue", ExpContinueCmd}, {"send", SendCmd},
        {"expect_flush", ExpectFlushCmd}, {"match_max", MatchMaxCmd},       {"expect_background", ExpectBackgroundCmd},
    };
    for (const auto& command : commands)
        Tcl_CreateObjCommand(interp, command.name, command.proc, context, nullptr);

    Tcl_CmdInfo after;
    if (Tcl_GetCommandInfo(interp, "after", &after) && after.objProc) {
        state->originalAfter = after.objProc;
        state->originalAfterData = after.objClientData;
        after.objProc = AfterCmd;
        after.objClientData = state;
        Tcl_SetCommandInfo(interp, "after", &after);
    }
}
