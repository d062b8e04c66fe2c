# Modem smoke test for the port that is connected in VORLA.
#
# Run it from the command bar (Run Script) after Connect. It sends a few
# Hayes commands, checks each answer, reports every step with puts and ends
# with the result PASS, or with an error that names the commands that failed.

# Give the modem time to answer; the original value is restored at the end.
set savedDelay [GetVorlaReadDelay]
SetVorlaReadDelay 300

set checks 0
set failures {}

# Sends one command line and checks the answer: it must contain every text
# of mustHave and none of mustNotHave.
proc check {command mustHave {mustNotHave {}}} {
    global checks failures
    incr checks
    set answer [SendOutR "$command\r"]
    set shown [string trim [string map {"\r" "" "\n" " "} $answer]]
    set ok 1
    foreach text $mustHave {
        if {[string first $text $answer] < 0} { set ok 0 }
    }
    foreach text $mustNotHave {
        if {[string first $text $answer] >= 0} { set ok 0 }
    }
    if {$ok} {
        puts [format "ok    %-6s -> %s" $command $shown]
    } else {
        puts [format "FAIL  %-6s -> '%s' (want %s)" $command $shown $mustHave]
        lappend failures $command
    }
    return $answer
}

puts "modem check, VORLA [GetVorlaVersion]"

# The modem is alive and stays so over a few rounds.
for {set round 1} {$round <= 3} {incr round} {
    check AT {OK} {ERROR}
}

# Identification, echo off and on again, and an unknown command.
foreach {command mustHave mustNotHave} {
    ATI  {MODEM OK} {ERROR}
    ATE0 {OK}       {ERROR}
    AT   {OK}       {ERROR}
    ATE1 {OK}       {ERROR}
    ATQ9 {ERROR}    {OK}
} {
    check $command $mustHave $mustNotHave
}

SetVorlaReadDelay $savedDelay

if {[llength $failures] > 0} {
    error "FAIL: [llength $failures] of $checks checks failed: $failures"
}
puts "all $checks checks passed"
return PASS
