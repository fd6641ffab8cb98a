// The requests of the Heron audio driver HeronAU: control codes, the
// register request and the configuration record, as its user-mode client
// and the driver both see them. Control codes are device type 0x8000,
// buffered transfer, any access.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define HERON_AUDIO_CONTROL_CODE(function) ((uint32_t)((0x8000u << 16) | ((function) << 2)))

// in AudioRegisterRequest (12), out the same record (up to 12 bytes).
inline constexpr uint32_t IOCTL_AUDIO_REGISTER_IO = HERON_AUDIO_CONTROL_CODE(0x802);
// No data: write 0x800 / 0 to the control register.
inline constexpr uint32_t IOCTL_AUDIO_CONTROL_SET = HERON_AUDIO_CONTROL_CODE(0x804);
inline constexpr uint32_t IOCTL_AUDIO_CONTROL_CLEAR = HERON_AUDIO_CONTROL_CODE(0x805);
// out the count of block interrupts (4).
inline constexpr uint32_t IOCTL_AUDIO_GET_INTERRUPT_COUNT = HERON_AUDIO_CONTROL_CODE(0x806);
// in AudioConfig (32): replaces the count of block interrupts.
inline constexpr uint32_t IOCTL_AUDIO_SET_CONFIG = HERON_AUDIO_CONTROL_CODE(0x807);
// No data: completes at the next block interrupt that brings the count to a multiple of 4.
inline constexpr uint32_t IOCTL_AUDIO_WAIT_EVENT = HERON_AUDIO_CONTROL_CODE(0x808);
// out the number of audio devices ever added (4).
inline constexpr uint32_t IOCTL_AUDIO_GET_DEVICE_COUNT = HERON_AUDIO_CONTROL_CODE(0x809);

static_assert(IOCTL_AUDIO_REGISTER_IO == 0x80002008u);
static_assert(IOCTL_AUDIO_CONTROL_SET == 0x80002010u);
static_assert(IOCTL_AUDIO_CONTROL_CLEAR == 0x80002014u);
static_assert(IOCTL_AUDIO_GET_INTERRUPT_COUNT == 0x80002018u);
static_assert(IOCTL_AUDIO_SET_CONFIG == 0x8000201Cu);
static_assert(IOCTL_AUDIO_WAIT_EVENT == 0x80002020u);
static_assert(IOCTL_AUDIO_GET_DEVICE_COUNT == 0x80002024u);

// AudioRegisterRequest.Operation
inline constexpr uint32_t AUDIO_REG_READ_BYTE = 0;
inline constexpr uint32_t AUDIO_REG_WRITE_BYTE = 1;  // the low byte of Value
inline constexpr uint32_t AUDIO_REG_READ_ULONG = 2;
inline constexpr uint32_t AUDIO_REG_WRITE_ULONG = 3;

struct AudioRegisterRequest {
    uint32_t Operation;
    uint32_t Offset;  // byte offset in the register window
    uint32_t Value;   // read into by the reads
};
static_assert(sizeof(AudioRegisterRequest) == 12);
static_assert(offsetof(AudioRegisterRequest, Offset) == 4);
static_assert(offsetof(AudioRegisterRequest, Value) == 8);

// Only InterruptCount has an effect; the rest is accepted as the client sends it.
struct AudioConfig {
    uint8_t Reserved0;
    uint8_t Reserved1;
    uint16_t Reserved2;
    uint32_t Reserved4;
    uint32_t InterruptCount;
    uint32_t Unused12;
    uint64_t Reserved16;
    uint64_t Reserved24;
};
static_assert(sizeof(AudioConfig) == 32);
static_assert(offsetof(AudioConfig, InterruptCount) == 8);
static_assert(offsetof(AudioConfig, Reserved16) == 16);
static_assert(offsetof(AudioConfig, Reserved24) == 24);

// Registers of the audio function.
inline constexpr uint32_t AUDIO_STATUS_REGISTER = 0x100;   // causes in bits 11 to 19; write back to acknowledge
inline constexpr uint32_t AUDIO_CONTROL_REGISTER = 0x104;  // bit 11 enables block interrupts
inline constexpr uint32_t AUDIO_CAUSE_MASK = 0x000FF800;
inline constexpr uint32_t AUDIO_BLOCK_INTERRUPT = 0x00000800;

// The device interface class {13E77813-8529-47A9-A380-5EEA6DBB78A3}.
#define HERON_AUDIO_INTERFACE_GUID_INIT \
    {0x13E77813, 0x8529, 0x47A9, {0xA3, 0x80, 0x5E, 0xEA, 0x6D, 0xBB, 0x78, 0xA3}}
