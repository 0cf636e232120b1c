#include "telnet/telnet_receive.h"

#include "platform/async_socket.h"

void TelnetOnReceiveData(CAsyncSocket& socket, int)
{
    char block[1024];
    socket.Receive(block, sizeof block);
}
