// The SHA-256 subset of the macOS SDK's <CommonCrypto/CommonDigest.h>, with
// its signatures, for the type-check only. It sits with the C library's
// stand-ins because the SDK keeps it in /usr/include too, where the portable
// core finds it.
#pragma once

#include <stdint.h>

#define CC_SHA256_DIGEST_LENGTH 32

typedef uint32_t CC_LONG;
typedef struct CC_SHA256state_st {
    CC_LONG count[2];
    CC_LONG hash[8];
    CC_LONG wbuf[16];
} CC_SHA256_CTX;

#ifdef __cplusplus
extern "C" {
#endif
int CC_SHA256_Init(CC_SHA256_CTX* c);
int CC_SHA256_Update(CC_SHA256_CTX* c, const void* data, CC_LONG len);
int CC_SHA256_Final(unsigned char* md, CC_SHA256_CTX* c);
#ifdef __cplusplus
}
#endif
