// Seeded mutations of sample inputs for parser checks: truncations, bit flips, inserted and deleted
// bytes, splices of two samples and extreme values written over would-be length fields. The same seed
// always gives the same inputs, so a failure names the seed that replays it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class SeededMutator {
public:
    SeededMutator(std::vector<std::string> samples, std::uint64_t seed) : samples_(std::move(samples)), random_(seed) {}

    // The next input: a sample with one to four mutations applied.
    std::string next()
    {
        std::string input = pick();
        const int rounds = 1 + static_cast<int>(below(4));
        for (int round = 0; round < rounds; ++round)
            mutate(input);
        return input;
    }

private:
    std::uint64_t below(std::uint64_t bound) { return bound == 0 ? 0 : random_() % bound; }
    std::string pick() { return samples_.empty() ? std::string() : samples_[below(samples_.size())]; }

    void mutate(std::string& input)
    {
        switch (below(7)) {
        case 0: // truncate
            input.resize(below(input.size() + 1));
            break;
        case 1: // flip one bit
            if (!input.empty())
                input[below(input.size())] ^= static_cast<char>(1u << below(8));
            break;
        case 2: { // insert random bytes (or a repeated one, which grows runs and nesting)
            const auto at = below(input.size() + 1);
            const auto count = 1 + below(below(2) ? 8 : 600);
            std::string bytes;
            const char repeated = static_cast<char>(random_());
            for (std::uint64_t index = 0; index < count; ++index)
                bytes += below(2) ? repeated : static_cast<char>(random_());
            input.insert(at, bytes);
            break;
        }
        case 3: { // delete a range
            if (input.empty())
                break;
            const auto at = below(input.size());
            input.erase(at, 1 + below(std::min<std::uint64_t>(64, input.size() - at)));
            break;
        }
        case 4: { // splice: our head with another sample's tail
            const std::string other = pick();
            input = input.substr(0, below(input.size() + 1)) + other.substr(below(other.size() + 1));
            break;
        }
        case 5: { // an extreme value over 1, 2, 4 or 8 bytes, in either byte order
            static constexpr std::uint64_t extremes[] = {
                0, 1, 0x7f, 0x80, 0xff, 0x7fff, 0xffff, 0x7fffffff, 0x80000000, 0xffffffff, 0x7fffffffffffffff, ~0ull};
            const std::uint64_t value = extremes[below(std::size(extremes))];
            const std::size_t width = std::size_t(1) << below(4);
            if (input.size() < width)
                break;
            const auto at = below(input.size() - width + 1);
            const bool bigEndian = below(2);
            for (std::size_t index = 0; index < width; ++index) {
                const std::size_t shift = 8 * (bigEndian ? width - 1 - index : index);
                input[at + index] = static_cast<char>(shift < 64 ? value >> shift : 0);
            }
            break;
        }
        default: { // duplicate a chunk in place
            if (input.empty())
                break;
            const auto at = below(input.size());
            const auto length = 1 + below(std::min<std::uint64_t>(256, input.size() - at));
            input.insert(at, input.substr(at, length));
            break;
        }
        }
    }

    std::vector<std::string> samples_;
    std::mt19937_64 random_;
};

// How many mutations a parser check runs: fewer under the sanitizers, which are many times slower.
inline std::size_t fuzzMutationCount()
{
#ifdef HORAVINE_SANITIZED
    return 20'000;
#else
    return 100'000;
#endif
}

// The seed of a run: HORAVINE_FUZZ_SEED when set (to replay a reported run), else a fixed one.
inline std::uint64_t fuzzSeed(std::uint64_t fallback)
{
    const char* given = std::getenv("HORAVINE_FUZZ_SEED");
    return given ? std::strtoull(given, nullptr, 0) : fallback;
}

// Hands `parse` every truncation of every sample, then `count` mutations from `seed`. `parse` returns
// true when the input gave exactly one of a value and an error; the first input that did not is
// returned with its position so the caller can report it (nothing when every input passed).
struct FuzzFailure {
    std::string input;
    std::string where;
};
inline std::optional<FuzzFailure> runParserCheck(const std::vector<std::string>& samples, std::uint64_t seed,
                                                 std::size_t count, const std::function<bool(std::string_view)>& parse)
{
    for (std::size_t sample = 0; sample < samples.size(); ++sample) {
        for (std::size_t length = 0; length <= samples[sample].size(); ++length) {
            const std::string input = samples[sample].substr(0, length);
            if (!parse(input))
                return FuzzFailure{input, "sample " + std::to_string(sample) + " cut at " + std::to_string(length)};
        }
    }
    SeededMutator mutator(samples, seed);
    for (std::size_t index = 0; index < count; ++index) {
        const std::string input = mutator.next();
        if (!parse(input))
            return FuzzFailure{input, "mutation " + std::to_string(index) + " of seed " + std::to_string(seed)};
    }
    return std::nullopt;
}

} // namespace testsupport
