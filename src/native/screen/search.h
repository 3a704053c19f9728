// The first point of a sorted range where a rising condition holds: by bisection, or by galloping
// from a guess and then bisecting. Pure C++, over any unsigned or signed integer positions
// (indices into a series, or doubles numbered in their total order), of any width: distances are
// taken in the unsigned type, so a range from -1 to the largest position is no overflow. A probe
// may fail (a source that could not be read), which ends the search.
#pragma once

#include <limits>
#include <type_traits>

namespace skyloom::search {

// A probe: bool probe(T u, bool& holds) sets whether the condition holds at u and returns false
// when it could not tell (the search then returns false at once). The condition must not hold at
// `no` and must hold at `yes` (neither is probed), and rise: once it holds, it holds onwards.
// Where it does not rise (data that break their promise), the searches still probe only inside
// (no, yes) and end, with some position there.

// yes - no (no < yes), which may exceed the largest T.
template <class T>
inline std::make_unsigned_t<T> distance(T no, T yes) noexcept {
  using U = std::make_unsigned_t<T>;
  return static_cast<U>(static_cast<U>(yes) - static_cast<U>(no));
}

// Narrows (no, yes) to adjacent positions by halving; yes is then the first position that holds.
template <class T, class Probe>
inline bool bisect(T& no, T& yes, Probe&& probe) {
  static_assert(std::is_integral_v<T>, "integer positions");
  for (auto d = distance(no, yes); d > 1; d = distance(no, yes)) {
    // Half the distance fits in T, and no + it lies inside (no, yes).
    const T mid = static_cast<T>(no + static_cast<T>(d / 2));
    bool holds;
    if (!probe(mid, holds)) return false;
    (holds ? yes : no) = mid;
  }
  return true;
}

// 2d, or the largest step when that overflows.
template <class T>
inline T twice(T d) noexcept {
  return d > std::numeric_limits<T>::max() / 2 ? std::numeric_limits<T>::max() : 2 * d;
}

// The same from a guess in (no, yes]: probes it (unless it is yes), then gallops from it towards
// the answer with steps 1, 2, 4, ..., each from the last position probed, and bisects what is
// left. A guess d positions off costs about 2 log2(d) probes; a right one costs one or two.
template <class T, class Probe>
inline bool gallop_bisect(T& no, T& yes, T guess, Probe&& probe) {
  bool holds = true;
  if (guess != yes && !probe(guess, holds)) return false;
  if (holds) {
    yes = guess;
    for (T d = 1; distance(no, yes) > static_cast<std::make_unsigned_t<T>>(d); d = twice(d)) {
      if (!probe(static_cast<T>(yes - d), holds)) return false;
      if (!holds) {
        no = yes - d;
        break;
      }
      yes -= d;
    }
  } else {
    no = guess;
    for (T d = 1; distance(no, yes) > static_cast<std::make_unsigned_t<T>>(d); d = twice(d)) {
      if (!probe(static_cast<T>(no + d), holds)) return false;
      if (holds) {
        yes = no + d;
        break;
      }
      no += d;
    }
  }
  return bisect(no, yes, probe);
}

}  // namespace skyloom::search
