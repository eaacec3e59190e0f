#include "zel/tokenizer/ZELCharacterClasses+Private.h"

#include <unicode/uchar.h>

#include <array>
#include <atomic>
#include <mutex>

namespace {

uint8_t computeClasses(char32_t codePoint) {
    const auto category = static_cast<UCharCategory>(u_charType(static_cast<UChar32>(codePoint)));
    const uint32_t mask = U_MASK(category);
    uint8_t classes = 0;
    const bool whitespace = (mask & U_GC_Z_MASK) != 0 || (codePoint >= 0x09 && codePoint <= 0x0D) ||
                            codePoint == 0x85;
    if (whitespace) classes |= ZELCharacterClassWhitespaceOrNewline;
    const uint32_t invisible = U_GC_CC_MASK | U_GC_CF_MASK | U_GC_CS_MASK | U_GC_CN_MASK;
    if (!whitespace && (mask & invisible) == 0) classes |= ZELCharacterClassVisible;
    if (mask & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) classes |= ZELCharacterClassAlphanumeric;
    if (mask & (U_GC_ND_MASK | U_GC_P_MASK | U_GC_S_MASK)) classes |= ZELCharacterClassLeadingNonLetter;
    if (mask & U_GC_MN_MASK) classes |= ZELCharacterClassNonspacingMark;
    const bool cjk = (codePoint >= 0x2E80 && codePoint <= 0x2FDF) ||  // radicals, Kangxi radicals
                     (codePoint >= 0x2FF0 && codePoint <= 0x30FF) ||  // description chars to Katakana
                     (codePoint >= 0x31C0 && codePoint <= 0x4DBF) ||  // strokes to extension A
                     (codePoint >= 0x4E00 && codePoint <= 0x9FFF) ||  // unified ideographs
                     (codePoint >= 0xF900 && codePoint <= 0xFAFF) ||  // compatibility ideographs
                     (codePoint >= 0xFE30 && codePoint <= 0xFE4F) ||  // compatibility forms
                     (codePoint >= 0xFF00 && codePoint <= 0xFFEF);    // halfwidth and fullwidth
    if (cjk) classes |= ZELCharacterClassCJK;
    const bool base64 = (codePoint >= 'A' && codePoint <= 'Z') || (codePoint >= 'a' && codePoint <= 'z') ||
                        (codePoint >= '0' && codePoint <= '9') || codePoint == '+' || codePoint == '/' ||
                        codePoint == '=';
    if (base64) classes |= ZELCharacterClassBase64;
    return classes;
}

// The classes of the basic multilingual plane, filled in blocks of 256 code points at first
// use: opening a database compares a few terms and should not pay for the whole plane. A block
// is written under the lock and published by its flag (release); a reader that sees the flag
// set (acquire) reads a complete block. Filled blocks never change.
class BasicPlaneTable {
public:
    uint8_t classesOf(char16_t unit) {
        const size_t block = unit >> 8;
        if (!filled_[block].load(std::memory_order_acquire)) fill(block);
        return classes_[unit];
    }

private:
    [[gnu::noinline]] void fill(size_t block) {
        std::lock_guard<std::mutex> guard(lock_);
        if (filled_[block].load(std::memory_order_relaxed)) return;
        const char32_t first = static_cast<char32_t>(block << 8);
        for (char32_t c = first; c < first + 256; ++c) classes_[c] = computeClasses(c);
        filled_[block].store(true, std::memory_order_release);
    }

    std::array<uint8_t, 0x10000> classes_{};
    std::array<std::atomic<bool>, 256> filled_{};
    std::mutex lock_;
};

// Constant-initialized: no guard on the lookups.
constinit BasicPlaneTable basicPlane;

}  // namespace

uint8_t ZELCharacterClassesOf(char32_t codePoint) {
    if (codePoint < 0x10000) return basicPlane.classesOf(static_cast<char16_t>(codePoint));
    return computeClasses(codePoint);
}

size_t ZELFindWhitespaceOrNewline(std::u16string_view text, size_t from) {
    for (size_t i = from; i < text.size(); ++i) {
        if (basicPlane.classesOf(text[i]) & ZELCharacterClassWhitespaceOrNewline) return i;
    }
    return ZELNotFound;
}

bool ZELContainsVisibleCharacter(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const char16_t unit = text[i];
        if (unit < 0xD800 || unit >= 0xE000) {
            if (basicPlane.classesOf(unit) & ZELCharacterClassVisible) return true;
            ++i;
            continue;
        }
        size_t unitCount;
        const char32_t codePoint = ZELCodePointAt(text, i, &unitCount);
        if (ZELCharacterIsIn(codePoint, ZELCharacterClassVisible)) return true;
        i += unitCount;
    }
    return false;
}
