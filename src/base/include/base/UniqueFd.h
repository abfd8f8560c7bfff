// A descriptor that closes itself: the one owner of an open file, socket or event descriptor,
// so that no path out of a function leaves it open.
#pragma once

#include <utility>

namespace zentrop {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int Fd) noexcept : FFd(Fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& Other) noexcept : FFd(Other.Release()) {}
    UniqueFd& operator=(UniqueFd&& Other) noexcept
    {
        if (this != &Other)
            Reset(Other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return FFd; }
    bool Valid() const { return FFd >= 0; }
    explicit operator bool() const { return Valid(); }
    // Gives up the descriptor without closing it.
    int Release() noexcept { return std::exchange(FFd, -1); }
    // Closes the descriptor held and takes Fd (-1: none).
    void Reset(int Fd = -1) noexcept;

private:
    int FFd = -1;
};

} // namespace zentrop
