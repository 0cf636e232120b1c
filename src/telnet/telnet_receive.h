#pragma once

// Where received bytes go while the Telnet window owns the data socket. The
// terminal reads at most 1,024 bytes per event; until it shows them, they are
// read and set aside here so the connection keeps flowing.
class CAsyncSocket;

void TelnetOnReceiveData(CAsyncSocket& socket, int nErrorCode);
