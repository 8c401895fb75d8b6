#pragma once
// A UTF-8 character type for one thread, leaving the process locale alone: libraries that
// convert text through the thread's locale would refuse every character outside ASCII under the
// C locale.

namespace cptlib::platform {

// A locale whose character type is UTF-8; its other categories stay "C", which loads nothing.
// When the system has no such locale, the object holds none and scopes change nothing.
class Utf8CharacterLocale {
public:
    Utf8CharacterLocale();
    ~Utf8CharacterLocale();
    Utf8CharacterLocale(const Utf8CharacterLocale&) = delete;
    Utf8CharacterLocale& operator=(const Utf8CharacterLocale&) = delete;

    // Makes the locale the calling thread's until the scope ends, then restores the previous.
    class Use {
    public:
        explicit Use(const Utf8CharacterLocale& locale);
        ~Use();
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;

    private:
        void* previous_; // the system's locale handle, opaque here
    };

private:
    void* locale_; // the system's locale handle, opaque here
};

} // namespace cptlib::platform
