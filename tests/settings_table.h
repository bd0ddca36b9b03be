// Settings texts for both builds: the Linux parser and OPENCOM on a pty
// (settings_table_test.cpp), the DLL under Wine beside BuildCommDCBA (win/).
#pragma once
#include <cstdint>
namespace settings_table {
// taken: 1 BuildCommDCBA and the Linux parser take the text, 0 both refuse it, 2 only Linux (MODE's hs, tg);
// opens: OPENCOM with it opens a pseudo-terminal on Linux; baud: the rate it sets there (0: not checked).
struct Case { const char *text; int taken, opens; uint32_t baud; };

inline constexpr Case kCases[] = {
    // The old form: two-digit MODE rates, spaces, the fifth field, any rate.
    {"96,N,8,1", 1, 1, 9600}, {"19,n,8,2", 1, 1, 19200}, {"12 , n , 8 , 1", 1, 1, 1200}, {"11,n,8,1", 1, 1, 110},
    {"30 ,E, 5,1.5", 1, 1, 300}, {"60, m, 6, 2 ", 1, 1, 600}, {"96,N,8,1 , x ", 1, 1, 9600},
    {"19, e, 7, 1, x", 1, 1, 19200}, {"19200,N,8,2", 1, 1, 19200}, {"57600,S,6,2,x", 1, 1, 57600},
    {"115200,o,8,1,X", 1, 1, 115200}, {"19200,N,8,1,", 1, 1, 19200}, {"COM1:9600,N,8,1", 1, 1, 9600},
    {"COM3  :  11,E,7,2", 1, 1, 110}, {"14400,N,8,1", 1, 1, 14400}, {"256000,N,8,1", 1, 1, 256000},
    {"12345,N,8,2", 1, 1, 12345},
    // Linux refuses 1.5 stop bits with 8 data bits, the DSR half of p, rate 0.
    {"24,s,8,1.5", 1, 0, 0}, {"48,n,8,1,p", 1, 0, 0}, {"0,M,7,1,P", 1, 0, 0}, {"0,N,8,1", 1, 0, 0},
    {"19200", 0, 0, 0}, {"19200,N", 0, 0, 0}, {"19200,N,8", 0, 0, 0}, {" 19200,N,8,2", 0, 0, 0},
    {"19200,N,8,1,xy", 0, 0, 0}, {"96,NO,8,1", 0, 0, 0}, {"96,N,4,1", 0, 0, 0}, {"96,N,9,1", 0, 0, 0},
    {"96,N,8,0", 0, 0, 0}, {"96,N,8,3", 0, 0, 0}, {"96,N,8,1.50", 0, 0, 0}, {"96,N,8,1,K", 0, 0, 0},
    {"96,N,8,1 to=on", 0, 0, 0}, {"baud=9600,data=8", 0, 0, 0}, {"COM0:9600,N,8,1", 0, 0, 0},
    {"COM:9600,N,8,1", 0, 0, 0}, {"19200;N;8;1", 0, 0, 0}, {"fast", 0, 0, 0},
    // The new form: keys in any case, only those given change the port.
    {"baud=9600 parity=e data=5 stop=1 xon=on odsr=off octs=off dtr=on rts=on idsr=off", 1, 1, 9600},
    {"BAUD=115200 PARITY=O DATA=8 TO=ON", 1, 1, 115200}, {"PaRiTy=s   Data=7   DTR=on", 1, 1, 0},
    {"baud=110", 1, 1, 110}, {"baud=96", 1, 1, 96}, {"baud=19200 data=5 stop=1.5", 1, 1, 19200},
    {"baud=19200 octs=on", 1, 1, 19200}, {"baud=19200 xon=on to=off", 1, 1, 19200}, {"", 1, 1, 0},
    {"baud=12345 data=8", 1, 1, 12345}, {"COM3:baud=38400 data=8", 1, 1, 38400}, {"COM1 : xon=on odsr=off", 1, 1, 0},
    {"baud=19200 rts=hs", 2, 1, 19200},
    // Linux refuses output gated by DSR, input gated by DSR, the DTR handshake, RTS toggle.
    {"baud=19200 stop=1.5", 1, 0, 0}, {"baud=19200 odsr=on", 1, 0, 0}, {"baud=19200 idsr=on", 1, 0, 0},
    {"baud=19200 dtr=hs", 2, 0, 0}, {"baud=19200 rts=tg", 2, 0, 0},
    {"baud=19200 dtr=tg", 0, 0, 0}, {" baud=9600", 0, 0, 0}, {"baud= 9600", 0, 0, 0}, {"baud=9600 ", 0, 0, 0},
    {"baud=9600x", 0, 0, 0}, {"parity=no", 0, 0, 0}, {"data=4", 0, 0, 0}, {"data=9", 0, 0, 0}, {"stop=0", 0, 0, 0},
    {"stop=1.501", 0, 0, 0}, {"to=foobar", 0, 0, 0}, {"xon=yes", 0, 0, 0}, {"speed=9600", 0, 0, 0},
    {"COM0:baud=115200", 0, 0, 0},
};
} // namespace settings_table
