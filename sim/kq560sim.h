/* Control interface of the KQ560 bridge simulator, for tests and tools. The
 * simulator library (KQ560DLL) exports these next to the ten bridge functions
 * of link/kq560.h. All are plain C calls (cdecl); every function is safe to
 * call from any thread. Slots are 0-15. Functions returning int give 1 for
 * success and 0 for failure (see KQ560SimLastDiagnostic) unless said otherwise.
 * sim/README.md describes the behaviour behind them. */
#ifndef KQ560SIM_H
#define KQ560SIM_H
#include <stdint.h>

#if defined(_WIN32)
#define KQ560SIM_CALL __cdecl
#else
#define KQ560SIM_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum { KQ560SIM_FLASH = 0, KQ560SIM_EEPROM = 1 };
enum { KQ560SIM_LOCK = 0, KQ560SIM_LOW = 1, KQ560SIM_HIGH = 2, KQ560SIM_EXT = 3 };
enum { KQ560SIM_FAMILY_NONE = 0, KQ560SIM_FAMILY_AVR = 1, KQ560SIM_FAMILY_AT89 = 2 };
/* Bridge functions, as counted in the statistics and named in the call log. */
enum {
  KQ560SIM_OP_OPEN, KQ560SIM_OP_EXCLUSIVE, KQ560SIM_OP_VERSION, KQ560SIM_OP_STREAM, KQ560SIM_OP_NOTIFY,
  KQ560SIM_OP_NAME, KQ560SIM_OP_CLOSE, KQ560SIM_OP_WRITE, KQ560SIM_OP_WRITE_READ, KQ560SIM_OP_SPI,
  KQ560SIM_OP_COUNT
};

typedef struct KQ560SimStats {
  uint64_t nowUs;                          /* virtual clock */
  uint64_t calls;                          /* bridge function calls since the last reset */
  uint64_t callsByOp[KQ560SIM_OP_COUNT];
  uint64_t bytesSent;                      /* bytes handed to WriteData, WriteRead, StreamSPI4 */
  uint64_t bytesReceived;                  /* reply bytes handed back */
} KQ560SimStats;

typedef struct KQ560SimCall {
  uint64_t index;       /* 1-based bridge call number */
  uint64_t startUs;     /* virtual time when the call began */
  uint32_t op;          /* KQ560SIM_OP_... */
  uint32_t slot;
  uint32_t length;      /* bytes sent */
  uint32_t readStep, readTimes, readLength; /* WriteRead only; readLength as returned */
  uint32_t result;      /* the call's return value (0xFFFFFFFF for a failed open) */
  uint8_t head[32];     /* the first bytes sent, up to 32 */
} KQ560SimCall;

typedef struct KQ560SimTarget {
  uint32_t family;      /* KQ560SIM_FAMILY_... */
  uint8_t signature[3];
  uint8_t hasExtFuse;
  uint32_t flashSize, pageSize, eepromSize;
  uint32_t clockHz;
  char name[48];
} KQ560SimTarget;

/* The deterministic test set-up: a bridge of version 0x30 in slot 0 with an
 * erased ATmega8 attached, other slots empty, clock at 0, real time off, no
 * faults, call log off, no state files, no notify routine. */
void KQ560SIM_CALL KQ560SimReset(void);
/* The whole-program set-up the library starts in: as KQ560SimReset, but
 * bridges, version, state files and faults from the environment, and real time
 * on. KQ560SIM_SLOT is a comma-separated list of different slots ("3" or
 * "2,5"), each holding a bridge with its own erased ATmega8; KQ560SIM_STATE is
 * an equally long comma-separated list of state files, one per bridge in the
 * same order (a path cannot contain a comma; an empty item means no file).
 * KQ560SIM_VERSION applies to every bridge; KQ560SIM_FAULT as
 * KQ560SimSetFaults. 0 if a variable was bad: it is reported on stderr and its
 * default used (slot 0; no state files when the lengths differ). */
int KQ560SIM_CALL KQ560SimConfigureFromEnvironment(void);

/* Bridges. Plugging and unplugging post plug notices (3 arrival, 4 removal).
 * KQ560GetDeviceName names any plugged bridge ("KQ560-5"), open or not.
 * A bridge whose slot has a state file is shared with other processes through
 * that file: KQ560SetExclusive(slot, 1) on an open bridge takes an advisory
 * lock on the file (flock / LockFileEx), dropped by KQ560CloseDevice, by
 * KQ560SetExclusive(slot, 0), by unplugging, and by the operating system when
 * the process ends in any way. While another process holds it,
 * KQ560OpenDevice fails (-1) but KQ560GetDeviceName still gives the name:
 * the bridge is busy. Without a state file nothing is shared. */
int KQ560SIM_CALL KQ560SimPlug(uint32_t slot, uint32_t version);
int KQ560SIM_CALL KQ560SimUnplug(uint32_t slot);
int KQ560SIM_CALL KQ560SimIsOpen(uint32_t slot);
/* Waits until every posted plug notice has been delivered; 0 on timeout. */
int KQ560SIM_CALL KQ560SimWaitNotices(uint32_t timeoutMs);

/* Targets: `chip` is a catalogue name ("MEGA16", "AT89S52"), "none", or
 * "avr:SSSSSS:FLASH:PAGE:EEPROM[:ext]". The target starts erased with its
 * data-sheet default fuses, default clock, powered, not stuck. (A chip loaded
 * from a state file keeps the slot's clock and stuck settings.) */
int KQ560SIM_CALL KQ560SimAttach(uint32_t slot, const char* chip);
int KQ560SIM_CALL KQ560SimGetTarget(uint32_t slot, KQ560SimTarget* target);
/* Target clock; SCK high and low phases shorter than 2 cycles go unseen. */
int KQ560SIM_CALL KQ560SimSetTargetClock(uint32_t slot, uint32_t hz);
/* A stuck target starts page writes but never finishes them. */
int KQ560SIM_CALL KQ560SimSetTargetStuck(uint32_t slot, int stuck);
int KQ560SIM_CALL KQ560SimSetTargetPower(uint32_t slot, int on);
/* 1 while the target runs a write cycle (erase, page, EEPROM, fuse). */
int KQ560SIM_CALL KQ560SimTargetBusy(uint32_t slot);
/* Instruction trace, for checking exact instruction bytes: the target records
 * every 4-byte group it takes in at programming level (an AT89S5x page-mode
 * instruction by its two leading bytes, the rest 0) with the virtual time it
 * completed. Starting a trace clears it and keeps the first `entries`
 * instructions from then on; 0 stops it. Attaching a new target ends it. */
typedef struct KQ560SimInstruction {
  uint64_t atUs;
  uint8_t bytes[4];
} KQ560SimInstruction;
int KQ560SIM_CALL KQ560SimStartTrace(uint32_t slot, uint32_t entries);
uint32_t KQ560SIM_CALL KQ560SimTraceCount(uint32_t slot);
int KQ560SIM_CALL KQ560SimTraceEntry(uint32_t slot, uint32_t i, KQ560SimInstruction* entry);
/* Memories (KQ560SIM_FLASH or KQ560SIM_EEPROM): bytes copied, 0 outside. */
uint32_t KQ560SIM_CALL KQ560SimReadMemory(uint32_t slot, uint32_t memory, uint32_t offset, uint8_t* data,
                                          uint32_t length);
uint32_t KQ560SIM_CALL KQ560SimWriteMemory(uint32_t slot, uint32_t memory, uint32_t offset, const uint8_t* data,
                                           uint32_t length);
/* Lock and fuse bytes (KQ560SIM_LOCK...), raw as stored; -1 where the chip has none. */
int KQ560SIM_CALL KQ560SimGetConfig(uint32_t slot, uint32_t which);
int KQ560SIM_CALL KQ560SimSetConfig(uint32_t slot, uint32_t which, uint32_t value);

/* State files. Load and save copy once; bind makes the file the target's
 * home: loaded now and whenever the bridge opens, saved after every change
 * (created from the current target if missing). A null path unbinds. */
int KQ560SIM_CALL KQ560SimLoadState(uint32_t slot, const char* path);
int KQ560SIM_CALL KQ560SimSaveState(uint32_t slot, const char* path);
int KQ560SIM_CALL KQ560SimBindState(uint32_t slot, const char* path);

/* Virtual clock. */
uint64_t KQ560SIM_CALL KQ560SimNowUs(void);
void KQ560SIM_CALL KQ560SimAdvanceMs(uint32_t ms);
void KQ560SIM_CALL KQ560SimAdvanceUs(uint32_t us);
/* On: real time passing between bridge calls also advances the clock. */
void KQ560SIM_CALL KQ560SimSetRealTime(int on);
void KQ560SIM_CALL KQ560SimGetStats(KQ560SimStats* stats);

/* Call log: a ring of the last `entries` calls (0, the default, turns it off). */
void KQ560SIM_CALL KQ560SimSetLogCapacity(uint32_t entries);
uint32_t KQ560SIM_CALL KQ560SimLogCount(void);
/* Entry i, 0 being the oldest kept. */
int KQ560SIM_CALL KQ560SimLogEntry(uint32_t i, KQ560SimCall* call);
void KQ560SIM_CALL KQ560SimClearLog(void);

/* Faults, replacing any set before; "" clears. Syntax as KQ560SIM_FAULT:
 * comma-separated fail=N, short=N, flip=N:BYTE:BIT, unplug=N, hang=N, where N
 * counts bridge calls from the last reset (KQ560SimGetStats().calls + 1 is
 * next). hang=N: call N blocks for good and never returns. It releases the
 * simulator's lock before blocking, so other threads keep using the library
 * and a signal handler, console control handler or other thread can end the
 * process (_exit, ExitProcess); nothing ever joins or wakes the blocked call. */
int KQ560SIM_CALL KQ560SimSetFaults(const char* faults);

/* Why the last failed call or control function failed; "" if none did. */
const char* KQ560SIM_CALL KQ560SimLastDiagnostic(void);

#ifdef __cplusplus
}
#endif
#endif
