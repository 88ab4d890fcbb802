// Runs every check and prints "N passed, N failed"; exits non-zero on any failure.
#include <array>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>

#include "catalogue/name_key.hpp"
#include "core/identifier.hpp"
#include "core/pip.hpp"
#include "rudiments/stroke_envelope.hpp"

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s\n", what);
    }
}

using kinetra::Offset3;
using kinetra::Stroke;
using kinetra::stroke_envelope;
using kinetra::wrap_pip;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

}  // namespace

int main() {
    check(wrap_pip(5, 0) == 0 && wrap_pip(5, -3) == 0 && wrap_pip(kMin, kMin) == 0, "empty periods fold to 0");
    check(wrap_pip(-1, 1) == 0, "a period of one");
    check(wrap_pip(-1, 64) == 63 && wrap_pip(-64, 64) == 0 && wrap_pip(-65, 64) == 63, "negative pips");
    check(wrap_pip(kMax, 64) == 63 && wrap_pip(kMin, 64) == 0, "extremes, power of two");
    check(wrap_pip(kMin, 160) == 32 && wrap_pip(kMax, 160) == 127, "extremes, 160");
    check(wrap_pip(kMin, 768) == 256 && wrap_pip(kMax, 768) == 511, "extremes, 768");
    check(wrap_pip(-1, 65535) == 65534 && wrap_pip(kMin, 65535) == 32767 && wrap_pip(kMax, 65535) == 32767,
          "extremes, 65535");
    check(kinetra::wrap_pip_by<160>(kMin) == 32 && kinetra::wrap_pip_by<64>(kMin) == 0, "constant periods");
    for (std::int32_t p : {1, 3, 64, 160, 480, 768, 1024, 65535}) {
        bool ok = true;
        for (std::int32_t pip : {kMin, kMin + 1, -p, -1, 0, 1, p, kMax - 1, kMax}) {
            const std::int32_t r = wrap_pip(pip, p);
            ok = ok && r >= 0 && r < p;
        }
        check(ok, "phase always in [0, P)");
    }

    check(stroke_envelope(17, 64, {}) == Offset3{0.0, 0.0, 0.0}, "an empty stroke list is at rest");
    const std::array<Stroke, 1> one{{{0, 1, 0.9, 8}}};
    check(stroke_envelope(4, 0, one) == Offset3{0.0, 0.0, 0.0} &&
              stroke_envelope(4, -5, one) == Offset3{0.0, 0.0, 0.0},
          "no period: every stroke sits at its onset");
    const std::array<Stroke, 3> loud{{{0, 1, 1.0, 8}, {0, 1, 1.0, 8}, {0, 1, 1.0, 8}}};
    const Offset3 clamped = stroke_envelope(4, 64, loud);
    check(clamped.x == 1.0 && clamped.y == -1.0, "sums are clamped to [-1, 1]");
    const std::array<Stroke, 1> wrapping{{{60, -1, 0.5, 8}}};
    check(stroke_envelope(0, 64, wrapping) == stroke_envelope(64, 64, wrapping) &&
              stroke_envelope(0, 64, wrapping).x == -0.5,
          "a stroke crossing the loop's end continues at its start");

    check(kinetra::is_identifier("a") && !kinetra::is_identifier("") && !kinetra::is_identifier("\xc3\xa9"),
          "identifier rule");

    // Keys order names as their unsigned bytes do, a proper prefix first, for every name that
    // fits a key whole: NUL and high bytes, prefixes and names of 0 to 31 bytes.
    using namespace std::string_view_literals;
    const std::string_view names[] = {
        ""sv, "a"sv, "a\0"sv, "a\0\0"sv, "a\0b"sv, "a\x01"sv, "a_"sv, "a0"sv, "ab"sv, "b"sv,
        "\xff"sv, "\xff\xff"sv, "\x80" "a"sv, "euclid_3_10"sv, "euclid_3_7"sv, "meter_2_3"sv,
        "meter_2_3_2"sv, "beat_jungle_switchback_pendulu"sv, "beat_jungle_switchback_pendulum"sv,
        "beat_jungle_switchback_pendulun"sv, "beat_jungle_switchback_pendul\xff"sv,
    };
    bool ordered = true;
    for (const std::string_view a : names) {
        for (const std::string_view b : names) {
            const kinetra::KeyOrder order = kinetra::compare_keys(kinetra::name_key(a), kinetra::name_key(b));
            ordered = ordered && order.before == (a < b) && order.tie == (a == b);
        }
    }
    check(ordered, "key order is byte order");
    check(kinetra::key_is_partial("beat_jungle_switchback_corkscrew") &&
              kinetra::name_key("beat_jungle_switchback_corkscrew") == kinetra::name_key("beat_jungle_switchback_corkscrex"),
          "names of 32 bytes that share 31 tie");

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
