#pragma once

#include <tcl.h>

#include <string>
#include <vector>

// Collects the results of tcltest's `test` as they happen and writes them as
// JUnit XML, for CI systems that show each test. Tcl thread only.
class CJUnitReport {
public:
    enum class EOutcome { Passed, Failed, Skipped };
    struct SCase {
        std::string name;
        EOutcome outcome = EOutcome::Passed;
        double seconds = 0;
        std::string report; // what tcltest printed about a failure
    };

    // Loads tcltest into interp and wraps its `test` so that each test is
    // recorded here; before the script runs, so its `namespace import`
    // takes the wrapper. False with Tcl's message when tcltest is missing.
    bool Install(Tcl_Interp* interp, std::string& error);
    void Record(SCase result) { m_cases.push_back(std::move(result)); }

    int Failures() const;
    // The report for a suite named `suite`; false with the system's reason
    // when the file cannot be written.
    bool Write(const std::string& path, const std::string& suite, std::string& error) const;
    std::string Xml(const std::string& suite) const;

private:
    std::vector<SCase> m_cases;
};

// Text made safe for an XML attribute or element.
std::string XmlEscape(const std::string& text);
