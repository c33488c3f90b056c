#include "tools/demo/demo_content.h"

#include <algorithm>
#include <cstdio>

#include "decode/bytes.h"
#include "update/product.h"

namespace morivane::demo {

namespace {

constexpr std::size_t kUnit = 32;

void Push(Bytes& out, std::initializer_list<std::uint8_t> bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}
void PushLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PushRandom(Bytes& out, Rng& rng, int n) {
    for (int i = 0; i < n; ++i) out.push_back(rng.Byte());
}
void PushText(Bytes& out, const char* text) {
    for (; *text != '\0'; ++text) out.push_back(static_cast<std::uint8_t>(*text));
}

// One double-byte character of code page 932: hiragana, katakana or a kanji of
// the first JIS level, now and then a comma or full stop.
void PushJapanese(Bytes& out, Rng& rng) {
    const std::uint32_t kind = rng.Below(100);
    if (kind < 55) {
        Push(out, {0x82, static_cast<std::uint8_t>(0x9F + rng.Below(83))});  // ぁ..ん
    } else if (kind < 70) {
        std::uint8_t trail = static_cast<std::uint8_t>(0x40 + rng.Below(86));  // ァ..ヴ
        if (trail >= 0x7F) ++trail;  // 0x7F is no trail byte
        Push(out, {0x83, trail});
    } else if (kind < 95) {
        std::uint8_t trail = static_cast<std::uint8_t>(0x40 + rng.Below(188));
        if (trail >= 0x7F) ++trail;
        Push(out, {static_cast<std::uint8_t>(0x89 + rng.Below(15)), trail});
    } else {
        Push(out, {0x81, static_cast<std::uint8_t>(rng.Below(2) == 0 ? 0x41 : 0x42)});  // 、。
    }
}

// Splits `total` units into `parts` gaps of at least one unit each (when total
// allows), in random proportions.
std::vector<std::size_t> SplitUnits(Rng& rng, std::size_t total, std::size_t parts) {
    std::vector<std::size_t> gaps(parts, 0);
    if (parts == 0) return gaps;
    std::vector<std::uint64_t> weights(parts);
    std::uint64_t sum = 0;
    for (auto& w : weights) sum += (w = 1 + rng.Below(1000));
    const std::size_t base = std::min(total / parts, std::size_t{1});
    std::size_t left = total - base * parts, given = 0;
    for (std::size_t i = 0; i < parts; ++i) {
        gaps[i] = base + static_cast<std::size_t>(left * weights[i] / sum);
        given += gaps[i];
    }
    gaps.back() += total - given;
    return gaps;
}

// A new file made mostly of fresh content, with copy runs from scattered
// places of the old file in between.
struct ScatterPlan {
    std::size_t newUnits = 0;
    std::size_t oldBytes = 0;
    int copyRuns = 0;
    int minCopy = 1, maxCopy = 1;  // units per copy run
    int inARowPercent = 0;         // copy runs that follow a copy run directly
    int halfShiftPercent = 0;      // copy runs whose source is 16 bytes into a unit
    int repeatPercent = 0;         // copy runs that reuse an earlier run's source
    std::vector<Segment> fixed;    // the first copy runs, as given
};

std::vector<Segment> Scatter(Rng& rng, const ScatterPlan& plan) {
    const std::size_t oldUnits = plan.oldBytes / kUnit;
    std::vector<Segment> copies;
    std::vector<bool> inARow;
    std::size_t copied = 0;
    for (int i = 0; i < plan.copyRuns; ++i) {
        Segment c{true,
                  static_cast<std::size_t>(plan.minCopy) +
                      rng.Below(static_cast<std::uint32_t>(plan.maxCopy - plan.minCopy + 1)),
                  0};
        if (static_cast<std::size_t>(i) < plan.fixed.size()) {
            c = plan.fixed[static_cast<std::size_t>(i)];
        } else if (i > 0 && rng.Below(100) < static_cast<std::uint32_t>(plan.repeatPercent)) {
            c.offset = copies[rng.Below(static_cast<std::uint32_t>(copies.size()))].offset;
            c.units = std::min(c.units, (plan.oldBytes - c.offset) / kUnit);
        } else {
            const bool half = rng.Below(100) < static_cast<std::uint32_t>(plan.halfShiftPercent);
            // Half-shifted sources need one unit of room more.
            c.offset = rng.Below(static_cast<std::uint32_t>(oldUnits - c.units - 1)) * kUnit +
                       (half ? kUnit / 2 : 0);
        }
        copies.push_back(c);
        copied += c.units;
        inARow.push_back(i > 0 && rng.Below(100) < static_cast<std::uint32_t>(plan.inARowPercent));
    }
    const std::size_t gapCount =
        1 + static_cast<std::size_t>(std::count(inARow.begin(), inARow.end(), false));
    const std::vector<std::size_t> gaps = SplitUnits(rng, plan.newUnits - copied, gapCount);

    std::vector<Segment> segments;
    std::size_t gap = 0;
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (!inARow[i]) segments.push_back({false, gaps[gap++], 0});
        segments.push_back(copies[i]);
    }
    segments.push_back({false, gaps[gap], 0});
    return segments;
}

std::size_t FreshUnits(const std::vector<Segment>& segments) {
    std::size_t n = 0;
    for (const Segment& s : segments) n += s.copy ? 0 : s.units;
    return n;
}

}  // namespace

Bytes Records(std::size_t size, std::uint64_t seed, std::uint32_t firstId) {
    static const char kNameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_";
    Rng rng(seed);
    Bytes out;
    out.reserve(size + 48);
    std::uint32_t id = firstId;
    while (out.size() < size) {
        std::uint8_t rec[48] = {};
        StoreLe32(rec + 0, id++);
        StoreLe16(rec + 4, static_cast<std::uint16_t>(rng.Below(12)));           // kind
        StoreLe16(rec + 6, static_cast<std::uint16_t>(rng.Below(4) << 4 | 1));   // flags
        StoreLe32(rec + 8, rng.Below(4096));                                     // x
        StoreLe32(rec + 12, rng.Below(4096));                                    // y
        StoreLe32(rec + 16, static_cast<std::uint32_t>(rng.Next() & 0xFFFFFF));  // value
        const std::uint32_t nameLength = 5 + rng.Below(11);
        for (std::uint32_t i = 0; i < nameLength; ++i) {
            rec[20 + i] = static_cast<std::uint8_t>(kNameChars[rng.Below(sizeof kNameChars - 1)]);
        }
        StoreLe32(rec + 36, rng.Below(100000));  // cost; 40..43 stay reserved (0)
        std::uint32_t check = 2166136261u;       // FNV-1a over the record
        for (int i = 0; i < 44; ++i) check = (check ^ rec[i]) * 16777619u;
        StoreLe32(rec + 44, check);
        out.insert(out.end(), rec, rec + 48);
    }
    out.resize(size);
    return out;
}

Bytes Text(std::size_t size, std::uint64_t seed, std::uint32_t firstLine) {
    static const char* const kCommands[] = {"@wait", "@se", "@bgm", "@face", "@fade", "@shake"};
    Rng rng(seed);
    Bytes out;
    out.reserve(size + 128);
    std::uint32_t line = firstLine;
    char buffer[64];
    while (out.size() < size) {
        if (rng.Below(6) == 0) {
            std::snprintf(buffer, sizeof buffer, "%s %c%c%c%c %u,%u\r\n", kCommands[rng.Below(6)],
                          'A' + rng.Below(26), 'A' + rng.Below(26), 'a' + rng.Below(26),
                          '0' + rng.Below(10), rng.Below(10000), rng.Below(256));
            PushText(out, buffer);
        }
        std::snprintf(buffer, sizeof buffer, "#%05u ", line++);
        PushText(out, buffer);
        Push(out, {0x81, 0x75});  // 「
        for (std::uint32_t n = 8 + rng.Below(24); n > 0; --n) PushJapanese(out, rng);
        Push(out, {0x81, 0x76, '\r', '\n'});  // 」
    }
    out.resize(size);
    return out;
}

Bytes Image(std::size_t size, std::uint64_t seed, std::size_t width) {
    Rng rng(seed);
    Bytes out;
    out.reserve(size + width);
    const std::uint32_t tint = rng.Below(256);
    for (std::size_t y = 0; out.size() < size; ++y) {
        const std::size_t band = (y / 16) * 37 + tint;
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t base = (x + y) / 2 + ((x * y) >> 6) + band;
            out.push_back(static_cast<std::uint8_t>(base + rng.Below(16)));
        }
    }
    out.resize(size);
    return out;
}

Bytes MachineCode(std::size_t size, std::uint64_t seed) {
    Rng rng(seed);
    Bytes out;
    out.reserve(size + 64);
    std::uint32_t address = 0x00401000u + static_cast<std::uint32_t>(seed & 0xFFF) * 16;
    while (out.size() < size) {
        switch (rng.Below(10)) {
            case 0:  // prologue
                Push(out, {0x55, 0x8B, 0xEC, 0x83, 0xEC});
                out.push_back(static_cast<std::uint8_t>(4 * (1 + rng.Below(60))));
                Push(out, {0x53, 0x56, 0x57});
                break;
            case 1:  // call rel32
                out.push_back(0xE8);
                PushRandom(out, rng, 4);
                break;
            case 2:  // mov reg, [ebp + disp8]
                out.push_back(rng.Below(2) == 0 ? 0x8B : 0x89);
                out.push_back(static_cast<std::uint8_t>(0x45 + 8 * rng.Below(8)));
                out.push_back(rng.Byte());
                break;
            case 3:  // mov dword [ebp + disp8], imm32
                Push(out, {0xC7, 0x45});
                PushRandom(out, rng, 5);
                break;
            case 4:  // push offset
                out.push_back(0x68);
                PushLe32(out, address += 4 * (1 + rng.Below(64)));
                break;
            case 5:  // short conditional jump
                out.push_back(static_cast<std::uint8_t>(0x70 + rng.Below(16)));
                out.push_back(rng.Byte());
                break;
            case 6:  // epilogue and padding to the next function
                Push(out, {0x5F, 0x5E, 0x5B, 0x8B, 0xE5, 0x5D, 0xC3});
                out.insert(out.end(), rng.Below(8), 0xCC);
                break;
            case 7:  // lea reg, [ebp + disp32]
                Push(out, {0x8D, static_cast<std::uint8_t>(0x85 + 8 * rng.Below(8))});
                PushRandom(out, rng, 4);
                break;
            case 8:  // a jump or address table
                for (std::uint32_t n = 2 + rng.Below(5); n > 0; --n) {
                    PushLe32(out, address += 1 + rng.Below(256));
                }
                break;
            default:  // cmp eax, imm32 / imm8
                if (rng.Below(2) == 0) {
                    out.push_back(0x3D);
                    PushRandom(out, rng, 4);
                } else {
                    Push(out, {0x83, 0xF8, rng.Byte()});
                }
        }
    }
    out.resize(size);
    return out;
}

Bytes Compose(const Bytes& old, const Bytes& fresh, const std::vector<Segment>& segments,
              std::size_t unit) {
    Bytes out;
    std::size_t next = 0;
    for (const Segment& s : segments) {
        const std::size_t bytes = s.units * unit;
        const Bytes& from = s.copy ? old : fresh;
        const std::size_t at = s.copy ? s.offset : next;
        out.insert(out.end(), from.begin() + static_cast<std::ptrdiff_t>(at),
                   from.begin() + static_cast<std::ptrdiff_t>(at + bytes));
        if (!s.copy) next += bytes;
    }
    return out;
}

std::string PathOf(int row) {
    const char* path = kUpdateFiles[row].relativePath;
    std::string out = path != nullptr ? path : kExecutableName;
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

std::vector<DemoFile> DataFiles() {
    std::vector<DemoFile> files;

    {  // Item tables: records, mostly rewritten, a hundred short stretches kept;
       // one of them from the old file's last units.
        DemoFile f{1, {}, {}};
        ScatterPlan plan;
        plan.newUnits = 1499328 / kUnit;
        plan.oldBytes = 1499040;
        plan.copyRuns = 99;
        plan.minCopy = 1;
        plan.maxCopy = 7;
        plan.inARowPercent = 3;
        plan.halfShiftPercent = 20;
        plan.repeatPercent = 10;
        plan.fixed = {{true, 5, plan.oldBytes - 16 - 5 * kUnit}};
        Rng rng(0x137);
        const std::vector<Segment> segments = Scatter(rng, plan);
        f.oldBytes = Records(plan.oldBytes, 0x1370, 1);
        const Bytes fresh = Records(FreshUnits(segments) * kUnit, 0x1371, 50001);
        f.newBytes = Compose(f.oldBytes, fresh, segments);
        files.push_back(std::move(f));
    }
    {  // Scenario text: new scenes, a few passages kept, one of them from the
       // middle of a unit (offset 369,680 is half a unit into unit 11,552).
        DemoFile f{2, {}, {}};
        ScatterPlan plan;
        plan.newUnits = 824736 / kUnit;
        plan.oldBytes = 650016;
        plan.copyRuns = 14;
        plan.minCopy = 3;
        plan.maxCopy = 15;
        plan.inARowPercent = 8;
        plan.halfShiftPercent = 25;
        plan.repeatPercent = 15;
        plan.fixed = {{true, 8, 369680}};
        Rng rng(0x138);
        const std::vector<Segment> segments = Scatter(rng, plan);
        f.oldBytes = Text(plan.oldBytes, 0x1380, 1);
        const Bytes fresh = Text(FreshUnits(segments) * kUnit, 0x1381, 40001);
        f.newBytes = Compose(f.oldBytes, fresh, segments);
        files.push_back(std::move(f));
    }
    {  // Effect images: redrawn entirely. The new file ends with the old file's
       // first unit (its header), so the script is one literal run and one copy.
        DemoFile f{3, {}, {}};
        const std::size_t newUnits = 696896 / kUnit;
        f.oldBytes = Image(600000, 0x1390, 256);
        const Bytes fresh = Image((newUnits - 1) * kUnit, 0x1391, 256);
        f.newBytes = Compose(f.oldBytes, fresh, {{false, newUnits - 1, 0}, {true, 1, 0}});
        files.push_back(std::move(f));
    }
    {  // Background images: repainted, a few dozen single units kept.
        DemoFile f{4, {}, {}};
        ScatterPlan plan;
        plan.newUnits = 929120 / kUnit;
        plan.oldBytes = 899968;
        plan.copyRuns = 33;
        plan.minCopy = 1;
        plan.maxCopy = 2;
        plan.inARowPercent = 4;
        plan.halfShiftPercent = 15;
        plan.repeatPercent = 10;
        Rng rng(0x140);
        const std::vector<Segment> segments = Scatter(rng, plan);
        f.oldBytes = Image(plan.oldBytes, 0x1400, 320);
        const Bytes fresh = Image(FreshUnits(segments) * kUnit, 0x1401, 320);
        f.newBytes = Compose(f.oldBytes, fresh, segments);
        files.push_back(std::move(f));
    }
    return files;
}

DemoFile ExecutableResource(std::size_t newSize) {
    // A rebuilt code blob: the new one walks through the old one, keeping short
    // stretches in place (some moved by half a unit) between rewritten ones,
    // and now and then reuses a stretch from elsewhere or one used before.
    DemoFile f{0, {}, {}};
    const std::size_t newUnits = (newSize + kUnit - 1) / kUnit;
    const std::size_t oldBytes = newSize - newSize / 100;
    const std::size_t oldUnits = oldBytes / kUnit;
    f.oldBytes = MachineCode(oldBytes, 0x1300);

    Rng rng(0x130);
    const std::size_t tail = std::min<std::size_t>(282, newUnits);  // rewritten at the end
    std::vector<Segment> segments;
    std::vector<std::size_t> used;
    std::size_t produced = 0, pos = 0;
    bool afterCopy = false;
    while (produced < newUnits - tail) {
        const std::size_t room = newUnits - tail - produced;
        const std::size_t units = std::min<std::size_t>(room, 1 + rng.Below(9));
        const std::uint32_t pick = rng.Below(100);
        std::size_t source;
        bool inPlace = false;
        if (pick < 19 && !used.empty()) {
            source = used[rng.Below(static_cast<std::uint32_t>(used.size()))];
        } else if (afterCopy || pick < 30 || pos + (units + 1) * kUnit > oldBytes) {
            source = rng.Below(static_cast<std::uint32_t>(oldUnits - units - 1)) * kUnit +
                     (rng.Below(4) == 0 ? kUnit / 2 : 0);
        } else {
            source = pos + (rng.Below(12) == 0 ? kUnit / 2 : 0);
            inPlace = true;
        }
        if (source + units * kUnit > oldBytes) source = (oldUnits - units) * kUnit;
        segments.push_back({true, units, source});
        used.push_back(source);
        produced += units;
        if (inPlace) pos = source + units * kUnit;
        if (produced >= newUnits - tail) break;
        if (rng.Below(100) < 20) {  // the next copy follows at once, from elsewhere
            afterCopy = true;
            continue;
        }
        afterCopy = false;
        const std::size_t literal =
            std::min<std::size_t>(newUnits - tail - produced, 1 + rng.Below(25));
        segments.push_back({false, literal, 0});
        produced += literal;
        // The rewritten stretch replaces one of about the same size.
        pos += (literal + rng.Below(5)) * kUnit;
        pos = pos >= 2 * kUnit ? pos - 2 * kUnit : 0;
    }
    segments.push_back({false, tail, 0});
    const Bytes fresh = MachineCode(FreshUnits(segments) * kUnit, 0x1301);
    f.newBytes = Compose(f.oldBytes, fresh, segments);
    f.newBytes.resize(newSize);
    return f;
}

}  // namespace morivane::demo
