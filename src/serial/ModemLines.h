#pragma once

// The modem lines of a serial device at one moment: the four status inputs
// and the two control outputs. true means asserted (DTR 1, CTS 1).
struct SModemLines {
    bool cts = false;
    bool dsr = false;
    bool ri = false;
    bool dcd = false;
    bool dtr = false;
    bool rts = false;
};
