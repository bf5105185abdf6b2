// The KQ560 bridge library (KQ560DLL) as the program calls it. The library is
// the maker's and closed; on machines without it the simulator in sim/ exports
// exactly these functions. Every argument and result is 32-bit (pointers
// aside); a non-zero result means success unless said otherwise.
#pragma once
#include <cstdint>

#if defined(_WIN32)
#define KQ560_CALL __stdcall
#else
#define KQ560_CALL
#endif

extern "C" {

// Plug notice: event code 3 when a bridge arrives; any other code when one leaves.
typedef void(KQ560_CALL* KQ560NotifyRoutine)(uint32_t event);

constexpr uint32_t kKq560EventArrival = 3;
constexpr uint32_t kKq560SlotCount = 16;
constexpr int32_t kKq560OpenFailed = -1;
constexpr uint32_t kKq560StreamSpiMsbFirst = 0x81;
constexpr uint32_t kKq560HardwareSpiVersion = 0x30;

// -1 when the slot could not be opened; any other value means open.
int32_t KQ560_CALL KQ560OpenDevice(uint32_t slot);
uint32_t KQ560_CALL KQ560SetExclusive(uint32_t slot, uint32_t exclusive);
// Bridge chip version; 0x30 or more has the hardware SPI stream.
uint32_t KQ560_CALL KQ560GetVerIC(uint32_t slot);
uint32_t KQ560_CALL KQ560SetStream(uint32_t slot, uint32_t mode);
// Zero when watching for plug events failed.
uint32_t KQ560_CALL KQ560SetDeviceNotify(uint32_t reserved, void* reserved2, KQ560NotifyRoutine notify);
// Null once the slot's device is gone.
const char* KQ560_CALL KQ560GetDeviceName(uint32_t slot);
uint32_t KQ560_CALL KQ560CloseDevice(uint32_t slot);
// Sends the IoStream packets of the buffer in order.
uint32_t KQ560_CALL KQ560WriteData(uint32_t slot, uint8_t* buffer, uint32_t* length);
// Runs the packets and reads readStep sample bytes for each of readTimes packets
// into readBuffer; *readLength receives the count actually read.
uint32_t KQ560_CALL KQ560WriteRead(uint32_t slot, uint32_t writeLength, uint8_t* writeBuffer,
                                   uint32_t readStep, uint32_t readTimes, uint32_t* readLength,
                                   uint8_t* readBuffer);
// Hardware SPI, full duplex: the bytes sent are replaced by the bytes received.
uint32_t KQ560_CALL KQ560StreamSPI4(uint32_t slot, uint32_t chipSelect, uint32_t length,
                                    uint8_t* buffer);
}
