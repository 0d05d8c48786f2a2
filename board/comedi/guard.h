// A process of its own that watches over output channel 0 while we hold the device: if we end
// without putting the output back to 0 V, whatever ends us (a crash, SIGKILL), it stops the
// scan and a clocked output's command, and writes the 0 V code as soon as we are gone.
#ifndef BOARDCOMEDI_GUARD_H
#define BOARDCOMEDI_GUARD_H

#include <comedilib.h>

#include <string>

namespace boardcomedi {

struct GuardOrders {
    unsigned output_subdevice;
    unsigned output_chanspec;
    lsampl_t zero_code;
    unsigned input_subdevice;
};

// Starts the guard over the device open at `device_fd`; false, with the reason, if it cannot.
bool guard_start(int device_fd, const GuardOrders &orders, std::string &why);
// We leave the device as it should be: the guard goes without touching it.
void guard_dismiss();

} // namespace boardcomedi

#endif
