// The model profiles: the constants and behaviour variants in which the three deliverables
// differ. Each deliverable links exactly one of them; nothing selects a profile at run time.
#pragma once

#include <cstdint>

// The download constants handed to the download command, in this field order.
struct tagModelProfile {
    uint32_t ParamBase;
    uint32_t CodeBase;
    uint32_t ParamLength;
    int32_t ModelCode;  // compared as a signed 16-bit value
    int32_t MaxSteps;   // carried with the command, not consulted
    uint32_t MaxProgramBytes;
};

enum class ProfileId { FX1S, FX1N, FX2N };

// One relay force of the stop or run sequence.
struct tagRelayForce {
    const wchar_t* device;
    bool on;
};

// What a deliverable calls itself: resource texts and class names.
struct tagProfileIdentity {
    const char* deliverable;  // "Nerio2N"
    const char* appClass;     // "CFX2NApp"
    const char* dialogClass;  // "CFX2NDlg"
    const wchar_t* titleChinese;
    const wchar_t* titleEnglish;
    const wchar_t* aboutProductLine;
    const char* fileDescription;  // "FX2N"
    const char* internalName;     // "Nerio2N.exe"
};

struct tagProfileTraits {
    ProfileId id;
    const char* key;  // "fx1s", "fx1n", "fx2n": the name tools and tests use
    tagModelProfile model;
    tagProfileIdentity identity;

    uint32_t programLengthLimit;  // size class x 2000 is clamped to this
    uint32_t portTimeoutMs;       // all five serial time-out fields

    bool extendedCommands;        // E00/E01/E10/E11/E7/E8 (classic "0" stays for the model word)
    uint16_t programSpaceFirst;   // first address sent with the program-space selector
    uint16_t programSpaceLast;    // last address sent with the program-space selector
    int openFailureCode;          // result of a transaction whose port will not open
    bool timeoutsAfterWrite;      // set the time-outs after each attempt's write and flush
    bool pausesAfterLastAttempt;  // the retry pause follows the third failed attempt too

    uint16_t runStateAddress;  // byte whose bit 0 is the run monitor M8000
    uint8_t runStateLength;    // bytes read for the run state

    const wchar_t* ramBoundMessage;  // shown when a copy into the PLC image would overflow it

    tagRelayForce stopSequence[3];
    int stopSequenceLength;
    tagRelayForce runSequence[3];
    int runSequenceLength;

    bool forcesProgramBit;   // force address 0x0E76 ON around the program frames
    bool verifyReadsParams;  // read the parameter block back before the program
    bool writesDumpFiles;    // dump PLC and project program on a compare failure

    uint16_t monitorHeaderAddress;    // device-monitor header reset by the pool's stop
    uint16_t monitorBitCountAddress;  // 16-bit count of monitored bit devices, also zeroed

    bool showsDownloadingText;  // Download button switches to "Downloading..." once built
    bool tracesThreadDown;      // extra trace lines of the download starter thread
};

extern const tagProfileTraits kProfileFX1S;
extern const tagProfileTraits kProfileFX1N;
extern const tagProfileTraits kProfileFX2N;

// Program length in bytes for a size class: size class x 2000, clamped to the profile's limit
// (the product is compared as a signed 32-bit value, as the package format defines it).
uint32_t ProgramLengthForSizeClass(const tagProfileTraits& profile, uint8_t sizeClass);

// Profile by its key ("fx1s", "fx1n", "fx2n"); null when unknown. For tools and tests.
const tagProfileTraits* FindProfile(const char* key);
