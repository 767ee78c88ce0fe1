#pragma once
// Turns Qt key codes into the 8-byte USB HID boot keyboard report that the KM
// channel carries. The translator remembers which keys it believes the device
// holds, so every press or release yields the complete new report.
#include <cstdint>
#include <map>
#include <vector>

class c_key_translator
{
public:
    enum { REPORT_SIZE = 8 };

    c_key_translator();

    // Updates the held-key report for one key event and copies it to out
    // (REPORT_SIZE bytes); outLength becomes 8. Returns false, touching
    // nothing, when the key has no HID usage. physicalKey (a scan code, 0 for
    // none) ties a release to its press: the release lets go of the usage
    // the press sent. A character that needs Shift on a US keyboard (or must
    // not have it) is sent with that Shift state until its key is released.
    bool translate(int keyCode, bool pressed, unsigned char* out, int& outLength, uint32_t physicalKey = 0);

    // The same for a key given by its HID usage (a physical key): modifier
    // usages 0xE0..0xE7 become their own bit of byte 0, so left and right
    // stay apart. False, touching nothing, for usage 0.
    bool translateUsage(uint8_t usage, bool pressed, unsigned char* out, int& outLength);

    // Forgets every held key and modifier.
    void reset();

    // One chord for a stored sequence: every modifier of the list together with
    // its last non-modifier key. Leaves the held-key report alone.
    void sequenceReport(const std::vector<int>& keyCodes, unsigned char* out) const;

    // The held-key report as it stands.
    const unsigned char* report() const { return m_report; }

    // True for Shift, Control, Meta and Alt, whose codes are modifier bits.
    static bool isModifier(int keyCode);

private:
    // Adds or removes one non-modifier usage in bytes 2..7.
    void updateKey(unsigned char code, bool pressed);

    // HID code of a key: the special map first, then the direct table for
    // codes up to 223. Returns false when neither knows the key.
    bool lookup(int keyCode, unsigned char& code, bool logUnknown) const;

    // -1: the character follows the held Shift; 0: without; 1: with Shift.
    static int shiftFor(int keyCode);
    // Byte 0 from the held modifiers and the pressed character's Shift.
    void applyModifiers();

    enum : unsigned char
    {
        kLeftShift = 0x02,
        kRightShift = 0x20
    };

    unsigned char m_report[REPORT_SIZE];
    unsigned char m_heldModifiers = 0;      // what the user's modifier keys hold
    unsigned char m_shiftUsage = 0;         // the held character whose Shift state applies
    bool m_shiftWanted = false;
    std::map<uint32_t, unsigned char> m_byPhysicalKey;  // usages sent by held keys
    std::map<int32_t, unsigned char> specialKeys;
};
