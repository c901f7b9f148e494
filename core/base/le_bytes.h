// Little-endian field access for the VID format and the blocked-compress buffer.
// Every multi-byte value on disk and in a compressed buffer is assembled and split
// byte by byte, so nothing here depends on the host's byte order or alignment.
#pragma once

#include <cstdint>

inline uint16_t get_le16(const unsigned char* p)
{
    return uint16_t(uint16_t(p[0]) | uint16_t(p[1]) << 8);
}

inline uint32_t get_le32(const unsigned char* p)
{ // widen each byte first: p[3] << 24 on a promoted int overflows when p[3] >= 0x80
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t get_le64(const unsigned char* p)
{
    return uint64_t(get_le32(p)) | uint64_t(get_le32(p + 4)) << 32;
}

inline void put_le16(unsigned char* p, uint16_t v)
{
    p[0] = (unsigned char)(v);
    p[1] = (unsigned char)(v >> 8);
}

inline void put_le32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (unsigned char)(v >> 8 * i);
}

inline void put_le64(unsigned char* p, uint64_t v)
{
    for (int i = 0; i < 8; i++)
        p[i] = (unsigned char)(v >> 8 * i);
}
