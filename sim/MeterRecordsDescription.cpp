// The archive rings and their pointers, the totals, the error journals and the pressure data of a
// described meter, written where the meter keeps them (layouts in MeterImage.h).
#include "sim/MeterRecordsDescription.h"

#include <set>
#include <string>
#include <utility>

#include "protocol/Frame.h"
#include "sim/MeterDescription.h"
#include "sim/MeterImage.h"

namespace rv::sim {

namespace {

using namespace layout;

[[noreturn]] void Fail(const std::string& what) { throw MeterFileError(what); }

void PutValue(MemoryArea& area, uint64_t at, int64_t value, unsigned width)
{
    const auto v = static_cast<uint64_t>(value);
    for (unsigned i = 0; i < width; ++i) area.PutU8(at + i, static_cast<uint8_t>(v >> (8 * i)));
}

void WriteRing(MeterImage& img, const ArchiveRingDescription& r, uint32_t written, const std::string& key)
{
    if (r.width != 2 && r.width != 4 && r.width != 8)
        Fail(key + ".width: " + std::to_string(r.width) + " is not a value width (2, 4 or 8)");
    if (r.recordSize < r.width || r.recordSize > 4096)
        Fail(key + ".recordSize: " + std::to_string(r.recordSize) + " must lie in " + std::to_string(r.width) +
             "..4096 (at least the value width)");
    const uint32_t N = r.hour ? archive::kHourRecords : archive::kDayRecords;
    if (!img.flash.Contains(r.address, size_t{N} * r.recordSize))
        Fail(key + ": " + std::to_string(N) + " records of " + std::to_string(r.recordSize) + " bytes at " +
             HexAddress(r.address) + " do not fit the flash");
    const uint32_t held = std::min(written, N);
    if (r.values.size() > held)
        Fail(key + ".values: " + std::to_string(r.values.size()) + " values, but the ring holds " +
             std::to_string(held) + " records");
    for (uint32_t k = written - held; k < written; ++k) {
        const uint64_t at = r.address + uint64_t{k % N} * r.recordSize;
        int64_t value = static_cast<int64_t>(static_cast<uint64_t>(r.first) + static_cast<uint64_t>(r.step) * k);
        const uint32_t fromNewest = written - 1 - k;
        if (fromNewest < r.values.size()) value = r.values[r.values.size() - 1 - fromNewest];
        PutValue(img.flash, at, value, r.width);
        img.flash.Fill(at + r.width, r.recordSize - r.width, kArchiveFiller);
    }
    img.archiveRings.push_back({r.address, N, r.recordSize});
}

void PutWords(MemoryArea& area, uint64_t at, size_t blockSize, const std::vector<uint32_t>& words,
              const std::string& key)
{
    if (words.size() * 4 > blockSize)
        Fail(key + ": " + std::to_string(words.size()) + " words; the block holds " + std::to_string(blockSize / 4));
    for (size_t i = 0; i < words.size(); ++i) area.PutU32(at + 4 * i, words[i]);
}

void WriteErrorJournal(MeterImage& img, const MeterDescription& d)
{
    using namespace errors;
    const bool v2 = d.softwareVersion >= 200;
    const size_t recordSize = v2 ? kRecord2 : kRecord1;
    const int groupBlocks = v2 ? kGroupBlocks2 : kGroupBlocks1;
    std::set<std::pair<int, int>> seen;
    for (size_t i = 0; i < d.errorJournal.size(); ++i) {
        const ErrorBlockDescription& e = d.errorJournal[i];
        const std::string key = "errorJournal[" + std::to_string(i) + "]";
        const int group = e.group ? *e.group : -1;
        if (e.group && *e.group >= kGroups)
            Fail(key + ".group: " + std::to_string(*e.group) + " is outside 0.." + std::to_string(kGroups - 1));
        const int blocks = e.group ? groupBlocks : kBlocks;
        if (e.block >= blocks)
            Fail(key + ".block: " + std::to_string(e.block) + " is outside 0.." + std::to_string(blocks - 1) +
                 (e.group ? " (blocks of a group in this layout)" : ""));
        if (!seen.insert({group, e.block}).second) Fail(key + ": the block is described twice");
        if (e.records.size() > kRecords)
            Fail(key + ".records: " + std::to_string(e.records.size()) + " records; a block holds " +
                 std::to_string(kRecords));

        const uint32_t region = kErrorJournals;
        uint32_t head, block;
        if (!e.group) {
            head = region + 2u * e.block;
            block = region + 16u + static_cast<uint32_t>(kRecords * recordSize) * e.block;
        } else {
            const uint32_t a = *e.group;
            head = region + (v2 ? kGroupHeads2 + 10u * a : kGroupHeads1 + 12u * a) + 2u * e.block;
            block = region + (v2 ? kGroupBlocksAt2 + 800u * a : kGroupBlocksAt1 + 768u * a) +
                    static_cast<uint32_t>(kRecords * recordSize) * e.block;
        }
        img.flash.PutU16(head, static_cast<uint16_t>(e.head ? *e.head : static_cast<int16_t>(e.records.size())));
        for (size_t k = 0; k < e.records.size(); ++k) {
            const uint64_t at = block + recordSize * k;
            img.flash.PutU32(at, e.records[k].word0);
            img.flash.PutU32(at + 4, e.records[k].word1);
            if (v2) img.flash.PutU16(at + 8, e.records[k].tail);
        }
    }
}

}  // namespace

void WriteMeterRecords(MeterImage& img, const MeterDescription& d)
{
    img.flash.PutU32(kArchivePointers, d.archiveValue0);
    img.flash.PutU32(kArchivePointers + 4, d.hourRecords);
    img.flash.PutU32(kArchivePointers + 8, d.dayRecords);
    for (size_t i = 0; i < d.archives.size(); ++i) {
        const ArchiveRingDescription& r = d.archives[i];
        WriteRing(img, r, r.hour ? d.hourRecords : d.dayRecords, "archives.rings[" + std::to_string(i) + "]");
    }

    PutWords(img.flash, kAllSums, totals::kAllSumsSize, d.allSums, "totals.allSums");
    PutWords(img.flash, kDaySums, totals::kDaySumsSize, d.daySums, "totals.daySums");
    PutWords(img.flash, kCheckEditCounters, totals::kCheckEditCountersSize, d.checkEditCounters,
             "totals.checkEditCounters");
    PutWords(img.ram, d.ramPointers[ram::kHourSumsWord], ram::kHourSumsSize, d.hourSums, "totals.hourSums");
    PutWords(img.ram, d.ramPointers[ram::kStopTimeWord], totals::kStopTimeSize, d.stopTime, "totals.stopTime");

    WriteErrorJournal(img, d);

    if (d.pressData.size() > kMaxAnswerPayload)
        Fail("pressData: " + std::to_string(d.pressData.size()) + " bytes; an answer carries at most " +
             std::to_string(kMaxAnswerPayload));
    img.pressData = d.pressData;
}

}  // namespace rv::sim
