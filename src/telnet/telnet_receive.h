#pragma once

// Where the receive path hands a read event while the Telnet window owns the
// data socket: the terminal reads at most 1,024 bytes and shows them itself;
// the receive pane and its counter are left alone.
class CAsyncSocket;

void TelnetOnReceiveData(CAsyncSocket& socket, int nErrorCode);
