#include "shell/JUnitReport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// tcltest writes its failure reports to its output channel. A channel of
// our own passes everything on to standard output and keeps a copy of what
// each test printed; the wrapped `test` tells what became of the test from
// tcltest's counters.
const char* const kWrapScript = R"tcl(
package require tcltest
namespace eval ::vorlash::junit {
    variable captured ""
    proc Channel {command channel args} {
        variable captured
        switch -- $command {
            initialize { return {initialize finalize watch write} }
            write {
                set data [encoding convertfrom utf-8 [lindex $args 0]]
                append captured $data
                puts -nonewline stdout $data
                return [string length [lindex $args 0]]
            }
        }
    }
    set channel [chan create write ::vorlash::junit::Channel]
    chan configure $channel -buffering none -translation lf -encoding utf-8
    # Reading an option first lets tcltest take its settings from argv, so
    # that they do not put stdout back later; the channel is set directly,
    # as outputChannel would open a file of that name.
    ::tcltest::debug
    set ::tcltest::outputChannel $channel
    rename ::tcltest::test ::tcltest::VorlashWrappedTest
}
proc ::tcltest::test {name description args} {
    set ::vorlash::junit::captured ""
    set before [array get ::tcltest::numTests]
    set start [clock microseconds]
    set code [catch {uplevel 1 [list ::tcltest::VorlashWrappedTest $name $description {*}$args]} result options]
    set seconds [expr {([clock microseconds] - $start) / 1e6}]
    set outcome ""
    foreach {counter word} {Failed failed Skipped skipped Passed passed} {
        if {$::tcltest::numTests($counter) > [dict get $before $counter]} {
            set outcome $word
            break
        }
    }
    if {$outcome ne ""} {
        ::vorlash::junit::Record $name $outcome $seconds $::vorlash::junit::captured
    }
    return -options $options $result
}
)tcl";

int RecordCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 5)
        return TCL_ERROR;
    CJUnitReport::SCase result;
    result.name = Tcl_GetString(objv[1]);
    const std::string outcome = Tcl_GetString(objv[2]);
    result.outcome = outcome == "failed"    ? CJUnitReport::EOutcome::Failed
                     : outcome == "skipped" ? CJUnitReport::EOutcome::Skipped
                                            : CJUnitReport::EOutcome::Passed;
    Tcl_GetDoubleFromObj(nullptr, objv[3], &result.seconds);
    result.report = Tcl_GetString(objv[4]);
    static_cast<CJUnitReport*>(clientData)->Record(std::move(result));
    return TCL_OK;
}

// The heart of tcltest's report: from "---- Result was:" on, without the
// "====" frame lines.
std::string FailureMessage(const std::string& report)
{
    std::istringstream lines(report);
    std::string message;
    bool inside = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("---- ", 0) == 0)
            inside = true;
        if (inside && line.rfind("====", 0) != 0)
            message += (message.empty() ? "" : "\n") + line;
    }
    return message.empty() ? "test failed" : message;
}

} // namespace

bool CJUnitReport::Install(Tcl_Interp* interp, std::string& error)
{
    Tcl_CreateObjCommand(interp, "::vorlash::junit::Record", RecordCmd, this, nullptr);
    if (Tcl_Eval(interp, kWrapScript) != TCL_OK) {
        error = Tcl_GetStringResult(interp);
        return false;
    }
    return true;
}

int CJUnitReport::Failures() const
{
    int failures = 0;
    for (const SCase& c : m_cases)
        failures += c.outcome == EOutcome::Failed;
    return failures;
}

std::string XmlEscape(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\n': out += "&#10;"; break;
        case '\t': out += "&#9;"; break;
        case '\r': out += "&#13;"; break;
        default:
            // Other control characters are not allowed in XML 1.0 at all.
            if (c < 0x20 || c == 0x7f)
                out += '?';
            else
                out += static_cast<char>(c);
        }
    }
    return out;
}

std::string CJUnitReport::Xml(const std::string& suite) const
{
    int skipped = 0;
    double seconds = 0;
    for (const SCase& c : m_cases) {
        skipped += c.outcome == EOutcome::Skipped;
        seconds += c.seconds;
    }
    auto number = [](double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6f", value);
        return std::string(text);
    };
    const std::string counts = " tests=\"" + std::to_string(m_cases.size()) + "\" failures=\"" +
                               std::to_string(Failures()) + "\" errors=\"0\" skipped=\"" + std::to_string(skipped) +
                               "\" time=\"" + number(seconds) + "\"";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<testsuites" + counts + ">\n";
    xml += "  <testsuite name=\"" + XmlEscape(suite) + "\"" + counts + ">\n";
    for (const SCase& c : m_cases) {
        xml += "    <testcase name=\"" + XmlEscape(c.name) + "\" classname=\"" + XmlEscape(suite) + "\" time=\"" +
               number(c.seconds) + "\"";
        if (c.outcome == EOutcome::Passed) {
            xml += "/>\n";
            continue;
        }
        xml += ">\n";
        if (c.outcome == EOutcome::Skipped)
            xml += "      <skipped/>\n";
        else
            xml += "      <failure message=\"" + XmlEscape(FailureMessage(c.report)) + "\">" + XmlEscape(c.report) +
                   "</failure>\n";
        xml += "    </testcase>\n";
    }
    xml += "  </testsuite>\n</testsuites>\n";
    return xml;
}

bool CJUnitReport::Write(const std::string& path, const std::string& suite, std::string& error) const
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        out << Xml(suite);
    out.close();
    if (!out) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}
