# Modem smoke test for the port that is connected in VORLA, written with
# expect: each command waits for the modem's final answer instead of a
# fixed read delay.
#
# Run it from the command bar (Run Script) after Connect. It sends a few
# Hayes commands, waits for OK or ERROR after each, reports every step with
# puts and ends with the result PASS, or with an error that names the
# commands that failed.

# A modem answers within a few hundred milliseconds.
set timeout 0.5
set checks 0
set failures {}

# Sends one command line and waits for its final answer. The check passes
# when the answer is `want` and the text before it contains `mustHave`.
proc check {command want {mustHave {}}} {
    global checks failures timeout
    incr checks
    expect_flush
    send "$command\r"
    expect {
        -re {\r\n(OK|ERROR)\r\n} {
            set got $expect_out(1,string)
            set text $expect_out(buffer)
        }
        timeout {
            set got "no answer"
            set text ""
        }
        eof {
            set got "port closed"
            set text ""
        }
    }
    set shown [string trim [string map {"\r" "" "\n" " "} $text]]
    if {$got eq $want && ($mustHave eq "" || [string first $mustHave $text] >= 0)} {
        puts [format "ok    %-6s -> %s" $command $shown]
    } else {
        puts [format "FAIL  %-6s -> %s (want %s)" $command $got $want]
        lappend failures $command
    }
}

puts "modem check with expect, VORLA [GetVorlaVersion]"

# The modem is alive and stays so over a few rounds.
for {set round 1} {$round <= 3} {incr round} {
    check AT OK
}

# Identification, echo off and on again, and an unknown command.
foreach {command want mustHave} {
    ATI  OK    {DEVSIM MODEM}
    ATE0 OK    {}
    AT   OK    {}
    ATE1 OK    {}
    ATQ9 ERROR {}
} {
    check $command $want $mustHave
}

if {[llength $failures] > 0} {
    error "FAIL: [llength $failures] of $checks checks failed: $failures"
}
puts "all $checks checks passed"
return PASS
