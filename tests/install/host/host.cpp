// A host: program an image into the virtual 24C02, dump it back, print what happened.
#include <zelapi.h>
#include <cstdio>

class Printer : public ZelHandler {
public:
    void OnStateChange(const char *state) override { std::printf("%s\n", state); }
    void OnMessage(const char *message) override { std::printf("%s", message); }
};

int main(int argc, char **argv) {
    const char *image = argc > 1 ? argv[1] : "image.txt";
    Printer printer;
    SetZelHandler(&printer);
    // 24C02: 2^8 bytes, no block bits; the virtual target keeps its cells in eeprom.bin
    if (!zelInitTrans("SIMPART=24C02 SIMFILE=eeprom.bin", 0, 8, 0)) {
        std::printf("no EEPROM answered\n");
        return 3;
    }
    const int programmed = zelProgram(image, 1, 1); // blocking, then read back and compare
    const int dumped = zelDump("dump.txt", 1, 0);
    std::printf("device 0x%02x: program %d, dump %d\n", zelGetDeviceAddress(), programmed, dumped);
    SetZelHandler(nullptr);
    zelClose();
    return programmed && dumped ? 0 : 1;
}
