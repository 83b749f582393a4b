// The column storage's pool of freed memory: slabs a data set frees are kept
// for the next one (up to a share of physical memory) and go back to the
// system once idle. Chunks are taken without being touched, so no test
// faults in the memory it counts.

#include <gtest/gtest.h>

#include <unistd.h>

#include <vector>

#include "platform/data/packet.h"
#include "platform/data/rowvector.h"
#include "platform/data/storage.h"

using namespace data::detail;

namespace {

constexpr size_t kSlab = size_t{2} << 20;
constexpr size_t kChunk = 64 << 10;
constexpr size_t kFloor = 32 * kSlab;

size_t mapped() { return rowVectorMappedBytes.load(); }

size_t physicalMemory() {
  return static_cast<size_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Takes and gives back slabs' worth of chunks, as freeing a large data set does.
void takeAndFree(size_t slabs) {
  std::vector<void*> chunks;
  for (size_t i = 0; i < slabs * (kSlab / kChunk); ++i) chunks.push_back(takeChunk(kChunk));
  for (void* c : chunks) giveChunk(c, kChunk);
}

TEST(ChunkPool, KeepsFreedSlabsBeyondTheFloorUpToItsLimitAndReusesThem) {
  releaseAllChunks();
  ASSERT_GE(chunkRetentionLimit(), kFloor);
  const size_t slabs = 48;  // 96 MiB: more than the floor
  takeAndFree(slabs);
  size_t kept = mapped();
  // An eighth of a machine of 1 GiB or more holds all of them.
  if (physicalMemory() >= (size_t{1} << 30)) {
    EXPECT_GE(kept, (slabs - 2) * kSlab);
  }
  EXPECT_LE(kept, chunkRetentionLimit() + 2 * kSlab);
  EXPECT_GE(pooledChunkBytes(), kept - kSlab);
  // The next data set of that size maps nothing new.
  takeAndFree(slabs);
  EXPECT_EQ(mapped(), kept);
}

TEST(ChunkPool, IdleSlabsGoBackToTheSystemDownToTheFloor) {
  releaseAllChunks();
  takeAndFree(48);
  size_t kept = mapped();
  ASSERT_GT(kept, kFloor + kSlab);
  // Freed just now: not idle for an hour.
  EXPECT_EQ(releaseIdleChunks(3600), 0u);
  EXPECT_EQ(mapped(), kept);
  size_t back = releaseIdleChunks(0);
  EXPECT_GT(back, 0u);
  EXPECT_EQ(mapped(), kept - back);
  EXPECT_LE(mapped(), kFloor + 2 * kSlab);  // the floor and the slabs chunks are carved from
  EXPECT_EQ(releaseIdleChunks(0), 0u);

  EXPECT_GT(releaseAllChunks(), 0u);
  EXPECT_LE(mapped(), 2 * kSlab);
  void* c = takeChunk(kChunk);  // still serves after everything went back
  ASSERT_NE(c, nullptr);
  giveChunk(c, kChunk);
}

// A large packet's text, once no one holds the packet, is where the next
// large packet is written: no fresh pages for a second save of a million
// rows. It goes back to the system with the idle slabs.
TEST(ChunkPool, ALargePacketsTextIsReusedByTheNextAndGivenBackWhenIdle) {
  releaseAllChunks();
  constexpr size_t kBig = size_t{40} << 20;  // room asked for, never written
  auto write = [](size_t room) {
    data::PacketWriter w({{"N", data::TFieldType::Integer}});
    w.Reserve(room);
    w.AddRow({rtl::Variant(7)});
    return w.Finish();
  };
  const char* first;
  {
    rtl::DataPacket p = write(kBig);
    first = p.bytes().data();
    rtl::DataPacket copy = p;  // the text is kept only when the last holder lets go
  }
  EXPECT_GE(pooledChunkBytes(), kBig);
  {
    rtl::DataPacket small = write(kBig / 4);  // far smaller: not handed a buffer four times its size
    EXPECT_NE(small.bytes().data(), first);
  }
  rtl::DataPacket again = write(kBig);
  EXPECT_EQ(again.bytes().data(), first);
  {
    data::PacketReader r(again);  // holds the packet too
    ASSERT_TRUE(r.Next());
    EXPECT_EQ(r.Values()[0].toInt(), 7);
    EXPECT_FALSE(r.Next());
  }
  again = rtl::DataPacket();
  EXPECT_EQ(releaseIdleChunks(3600), 0u);  // freed just now
  EXPECT_GE(releaseIdleChunks(0), kBig);
  EXPECT_LT(pooledChunkBytes(), kBig);
}

}  // namespace
