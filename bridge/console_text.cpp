// The help text and the list of network interfaces, both on standard error.
#include <cstdio>
#include <string>

#include "main_class.h"

void CMainClass::printHelp() {
    static const char* const kHelp[] = {
        "The CorvastrumGigeInterface is an application that makes the Corvastrum 3D Sensor compatible with any "
        "GigE compatible client. The application is terminal-based.\n\n",
        "Available options:\n\n",
        " -i [3D_SENSOR_IP] the IP address of the Corvastrum 3D Sensor.\n\n",
        " -s [GigE_SERVER_IP] the IP address of the server, to which the application connects.\n\n",
        " -n [X] the Netwrok Interface Card index, thorugh which the application connects.\nIf the GigE_SERVER_IP "
        "given by the option -s is not registered in the system, the application will add this IP to the "
        "system\n(requires to run the application as system adminstrator).\n\n",
        " -d print out in the console debug messages. The debug messages are the comands sent and received from "
        "the client.\n\n",
        " -f [FILENAME] print the debug messages into an external file. The debug messages are the commands sent "
        "and received from the client.\n\n",
        " -h print out the help text.\n\n",
        "For more Info, please refer to the CorvastrumGigeInterface user manual\n\n",
        "Below is a list of inteface indeces and their main IPs in this system:\n",
    };
    for (const char* text : kHelp) printError(text);
}

void CMainClass::printInterfaceList() {
    for (std::size_t index = 0; index < interfaceAddresses.size(); ++index) {
        printError("Interface " + std::to_string(index) + "  IP: " + interfaceAddresses[index] + "\n");
    }
}
