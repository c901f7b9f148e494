// The Vid handle: the MATLAB value that carries an open VidHeader from clipOpenMex through
// clipReadMex or clipWriteMex to clipCloseMex.
//
// A handle is a real double column of floor(B / 8) + 1 rows, B = sizeof(VidHeader), whose
// first B bytes are the record itself and whose remaining bytes are zero. Reads and writes
// run the record's operations directly on the handle's storage, so what they change in the
// record (the writer's current_frame, errMessage) is seen through that very MATLAB value.
//
// The four functions are separate modules with no shared state, so a handle must prove by
// itself that it is live before any pointer in it is touched. The proof is a seal kept in
// the last bytes of errMessage (which no report ever reaches: the longest report is a short
// text plus a name of under 5000 bytes):
//   tag      a fixed constant: the array was made by clipOpenMex;
//   process  the identity of the process that made it (process id and the addresses at
//            which the host and the C library were loaded): a handle saved and loaded into
//            another process is refused;
//   control  the address of a control block on the heap, never freed, that
//            clipCloseMex marks closed: every copy of a closed handle, shared or not, is then
//            refused, even after `clear all`;
//   checksum a hash, keyed with the process identity, over every byte of the handle except
//            errMessage and the failure fields (error_number to error_detail, which every
//            report rewrites; current_frame and the zero tail included), and over the other seal
//            fields: an array edited by hand, a truncated copy, or zeros of the right size
//            are refused.
// Only an exact copy (same bytes, same column shape) of a handle that clipOpenMex returned in
// this process and that was not closed passes. clipWriteMex seals the handle again after each
// frame, since current_frame moved.
//
// This part works on the handle's storage alone, for the MEX modules (through vid_handle.h)
// and for the Octave oct-file vidReadFrames. It takes the address of the host's mxGetPr as
// part of the process identity: include it after the host's MEX declarations (mex.h, or
// <octave/mexproto.h> in an oct-file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "VidHeader.h"
#include "threading.h"

constexpr size_t kVidRecordBytes = sizeof(VidHeader);
constexpr size_t kVidHandleRows = kVidRecordBytes / 8 + 1;
constexpr size_t kVidHandleBytes = kVidHandleRows * 8;

struct VidHandleSeal {
    uint64_t tag;
    uint64_t process;
    uint64_t control;
    uint64_t checksum;
};

// Lives on the heap from clipOpenMex for the rest of the process; never freed, so that a
// stale handle's control address always points at a block that says "closed".
struct VidHandleControl {
    uint64_t key;   // vid_handle_mix(process ^ own address): the block is one of ours
    uint64_t state; // kVidControlOpen or kVidControlClosed
    // Writers: the frames written through any copy of the handle. A copy whose record counts
    // fewer has fallen behind (a checkpoint of the variable, or a copy taken before later
    // writes); writing through it would overwrite later records and the shared table.
    int64_t frames_written;
};

constexpr uint64_t kVidHandleTag = 0x31444E48'44495621ULL; // "!VIDHND1" in memory order
constexpr uint64_t kVidControlOpen = 0x4E45504F'44495621ULL;
constexpr uint64_t kVidControlClosed = 0x44534F4C'43564421ULL;

constexpr size_t kVidErrMessageOffset = offsetof(VidHeader, errMessage);
constexpr size_t kVidErrMessageEnd = kVidErrMessageOffset + sizeof(VidHeader::errMessage);
constexpr size_t kVidSealOffset = kVidErrMessageEnd - sizeof(VidHandleSeal);
// The failure fields, rewritten by every report like errMessage: outside the checksum too.
constexpr size_t kVidFailureOffset = offsetof(VidHeader, error_number);
constexpr size_t kVidFailureEnd =
    offsetof(VidHeader, error_detail) + sizeof(VidHeader::error_detail);
static_assert(kVidErrMessageEnd <= kVidFailureOffset, "errMessage comes before the failure");
static_assert(sizeof(VidHeader::errMessage) >= 8192, "the seal needs errMessage's far end");
static_assert(kVidHandleBytes > kVidRecordBytes, "the handle holds the record and a tail");

// splitmix64's finaliser: a bijective 64-bit mix.
inline uint64_t vid_handle_mix(uint64_t x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    x ^= x >> 31;
    return x;
}

// The same value in every module loaded into one process, and (with address-space
// randomisation) a different one in any other process.
inline uint64_t vid_handle_process_identity()
{
    uint64_t id = vid_handle_mix(uint64_t(vid_process_id()) ^ 0x5649445F50494421ULL);
    id = vid_handle_mix(id ^ uint64_t(reinterpret_cast<uintptr_t>(stderr)));
    id = vid_handle_mix(id ^ uint64_t(reinterpret_cast<uintptr_t>(&mxGetPr)));
    return id;
}

inline uint64_t vid_handle_hash_bytes(uint64_t h, const unsigned char* p, size_t n)
{
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        h = vid_handle_mix(h ^ w) + 0x9E3779B97F4A7C15ULL;
    }
    if (n > 0) {
        uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = vid_handle_mix(h ^ w ^ (uint64_t(n) << 56)) + 0x9E3779B97F4A7C15ULL;
    }
    return h;
}

// Hash over the whole handle storage (kVidHandleBytes) except errMessage and the failure
// fields, then the seal's tag, process and control fields.
inline uint64_t vid_handle_checksum(const unsigned char* storage, uint64_t process)
{
    uint64_t h = vid_handle_mix(process ^ 0x434845434B53554DULL);
    h = vid_handle_hash_bytes(h, storage, kVidErrMessageOffset);
    h = vid_handle_hash_bytes(h, storage + kVidErrMessageEnd,
                              kVidFailureOffset - kVidErrMessageEnd);
    h = vid_handle_hash_bytes(h, storage + kVidFailureEnd, kVidHandleBytes - kVidFailureEnd);
    h = vid_handle_hash_bytes(h, storage + kVidSealOffset, offsetof(VidHandleSeal, checksum));
    return h;
}

// Writes the seal into a handle's storage (after the record's bytes are in place).
inline void vid_handle_seal(unsigned char* storage, const VidHandleControl* control)
{
    uint64_t process = vid_handle_process_identity();
    VidHandleSeal seal;
    seal.tag = kVidHandleTag;
    seal.process = process;
    seal.control = uint64_t(reinterpret_cast<uintptr_t>(control));
    seal.checksum = 0;
    std::memcpy(storage + kVidSealOffset, &seal, sizeof seal);
    seal.checksum = vid_handle_checksum(storage, process);
    std::memcpy(storage + kVidSealOffset, &seal, sizeof seal);
}

// A new control block marked open, or null when memory runs out. It is never freed once a
// handle refers to it; before that (the open failed) the caller deletes it.
inline VidHandleControl* vid_handle_new_control()
{
    VidHandleControl* c = new (std::nothrow) VidHandleControl;
    if (c == nullptr)
        return nullptr;
    c->key =
        vid_handle_mix(vid_handle_process_identity() ^ uint64_t(reinterpret_cast<uintptr_t>(c)));
    c->state = kVidControlOpen;
    c->frames_written = 0;
    return c;
}

enum class VidHandleStatus {
    live,      // an open handle from clipOpenMex in this process
    not_array, // not a double array, or empty
    foreign,   // a double array that is not an intact handle from this process
    closed,    // a handle whose file clipCloseMex has closed
};

// Checks the storage of a double column of kVidHandleRows rows as a Vid handle: the seal, then
// the control block. Nothing in the record is dereferenced unless the seal has been verified
// first. On live, *record points at the record in that storage and *control at its control
// block.
inline VidHandleStatus vid_handle_check_storage(unsigned char* storage, VidHeader** record,
                                                VidHandleControl** control)
{
    VidHandleSeal seal;
    std::memcpy(&seal, storage + kVidSealOffset, sizeof seal);
    uint64_t process = vid_handle_process_identity();
    if (seal.tag != kVidHandleTag || seal.process != process ||
        seal.checksum != vid_handle_checksum(storage, process))
        return VidHandleStatus::foreign;
    VidHandleControl* c = reinterpret_cast<VidHandleControl*>(uintptr_t(seal.control));
    if (c == nullptr || c->key != vid_handle_mix(process ^ seal.control))
        return VidHandleStatus::foreign;
    if (c->state != kVidControlOpen)
        return VidHandleStatus::closed;
    *record = reinterpret_cast<VidHeader*>(storage);
    *control = c;
    return VidHandleStatus::live;
}

// The text of the error for a handle that did not pass, with not_array_message for the case
// that every call has always refused (not double, or empty).
inline const char* vid_handle_refusal(VidHandleStatus status, const char* not_array_message)
{
    switch (status) {
    case VidHandleStatus::not_array:
        return not_array_message;
    case VidHandleStatus::closed:
        return "Invalid Vid handle: its file was closed by clipCloseMex.\n";
    default:
        return "Invalid Vid handle: not an intact handle returned by clipOpenMex in this "
               "session.\n";
    }
}
