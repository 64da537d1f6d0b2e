// A second process for the EC library's tests: makes one EC call and exits
// with its result, or enters the EC and ends inside it.
//   wrrdio_peer get ADDRESS | wrrdio_peer set ADDRESS VALUE | wrrdio_peer enter
#include <stdlib.h>
#include <string.h>

#include "WrRdIO.h"
#include "WrRdIOSim.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "enter") == 0) return WrSimEnterForGood();
    if (argc < 3) return 1000;
    const DWORD address = strtoul(argv[2], NULL, 0);
    if (strcmp(argv[1], "get") == 0)
        return GetRegisterValue(108, 104, HIBYTE(address), LOBYTE(address), 6, 7, 8, 1, 1);
    if (strcmp(argv[1], "set") == 0 && argc >= 4)
        return SetRegisterValue(108, 104, HIBYTE(address), LOBYTE(address),
                                strtoul(argv[3], NULL, 0), 6, 7, 8, 1, 2);
    return 1000;
}
