#include "platform/inet/TcpStream.h"
