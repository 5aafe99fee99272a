#include <memory>
#include <vector>

#include "base/trace_event/trace_buffer_ring_buffer.h"
#include "base/trace_event/trace_buffer_vector.h"
#include "base/trace_event/trace_category.h"
#include "base/trace_event/trace_event_memory_overhead.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TraceCategory g_category = {0, 0, "cat"};

// Fills the next slot of `chunk` and returns the handle naming it.
TraceEventHandle AddEvent(TraceBufferChunk& chunk, size_t chunk_index,
                          const char* name) {
  size_t event_index = 0;
  TraceEvent* event = chunk.AddTraceEvent(&event_index);
  const char* argument_names[] = {"copied"};
  const uint8_t argument_types[] = {kTraceValueTypeCopyString};
  TraceValue argument_values[1];
  argument_values[0].as_string = "a copied value";
  event->Initialize(1, 2, 0, kTracePhaseComplete, &g_category, name, nullptr, 0,
                    0, 1, argument_names, argument_types, argument_values,
                    nullptr, 0);
  return MakeTraceEventHandle(chunk.seq(), static_cast<uint32_t>(chunk_index),
                              static_cast<uint32_t>(event_index));
}

TEST(TraceBufferTest, RingHandsOutChunksInOrderAndRecyclesTheOldest) {
  TraceBufferRingBuffer ring(1000);
  std::vector<std::unique_ptr<TraceBufferChunk>> out;
  for (size_t i = 0; i < 1000; ++i) {
    size_t index = 99999;
    out.push_back(ring.GetChunk(&index));
    ASSERT_NE(nullptr, out.back());
    EXPECT_EQ(i, index);
    EXPECT_EQ(i + 1, out.back()->seq());
  }
  const TraceEventHandle old_handle = AddEvent(*out[0], 0, "old");
  // Every chunk is out: nothing to give, and nothing handed out twice.
  size_t index = 99999;
  EXPECT_EQ(nullptr, ring.GetChunk(&index));

  ring.ReturnChunk(0, std::move(out[0]));
  EXPECT_NE(nullptr, ring.GetEventByHandle(old_handle));
  std::unique_ptr<TraceBufferChunk> recycled = ring.GetChunk(&index);
  ASSERT_NE(nullptr, recycled);
  EXPECT_EQ(0u, index);
  EXPECT_EQ(1001u, recycled->seq());
  EXPECT_EQ(0u, recycled->size());
  ring.ReturnChunk(0, std::move(recycled));
  EXPECT_EQ(nullptr, ring.GetEventByHandle(old_handle));
  EXPECT_FALSE(ring.IsFull());
  EXPECT_EQ(1000u * 64, ring.Size());
  EXPECT_EQ(1000u * 64, ring.Capacity());
}

TEST(TraceBufferTest, RingIteratesTheReturnedChunksOldestFirst) {
  TraceBufferRingBuffer ring(3);
  std::unique_ptr<TraceBufferChunk> chunks[3];
  size_t indices[3];
  for (int i = 0; i < 3; ++i)
    chunks[i] = ring.GetChunk(&indices[i]);
  ring.ReturnChunk(indices[2], std::move(chunks[2]));
  ring.ReturnChunk(indices[0], std::move(chunks[0]));
  std::vector<uint32_t> seqs;
  while (const TraceBufferChunk* chunk = ring.NextChunk())
    seqs.push_back(chunk->seq());
  EXPECT_EQ((std::vector<uint32_t>{3, 1}), seqs);
}

TEST(TraceBufferTest, VectorFillsAtItsMaximumReturnedOrNot) {
  TraceBufferVector vector(4000);
  std::vector<std::unique_ptr<TraceBufferChunk>> out;
  for (size_t i = 0; i < 4000; ++i) {
    EXPECT_FALSE(vector.IsFull()) << i;
    size_t index = 0;
    out.push_back(vector.GetChunk(&index));
    EXPECT_EQ(i, index);
    EXPECT_EQ(i + 1, out.back()->seq());
    if (i % 2 == 0)
      vector.ReturnChunk(index, std::move(out.back()));
  }
  EXPECT_TRUE(vector.IsFull());
  EXPECT_EQ(4000u * 64, vector.Size());

  TraceBufferVector small(10);
  for (size_t i = 0; i < 3; ++i) {
    size_t index = 0;
    std::unique_ptr<TraceBufferChunk> chunk = small.GetChunk(&index);
    if (i == 1)
      AddEvent(*chunk, index, "kept");
    small.ReturnChunk(index, std::move(chunk));
  }
  EXPECT_EQ(192u, small.Size());
  int chunks = 0;
  while (small.NextChunk())
    ++chunks;
  EXPECT_EQ(3, chunks);
  // Handles name the slot; a wrong sequence or index names nothing.
  const TraceEventHandle handle = MakeTraceEventHandle(2, 1, 0);
  ASSERT_NE(nullptr, small.GetEventByHandle(handle));
  EXPECT_STREQ("kept", small.GetEventByHandle(handle)->name());
  EXPECT_EQ(nullptr, small.GetEventByHandle(MakeTraceEventHandle(3, 1, 0)));
  EXPECT_EQ(nullptr, small.GetEventByHandle(MakeTraceEventHandle(2, 7, 0)));
}

TEST(TraceBufferTest, ChunkEstimateCountsEachEventOnce) {
  TraceBufferChunk chunk(1);
  AddEvent(chunk, 0, "first");
  TraceEventMemoryOverhead first;
  chunk.EstimateTraceMemoryOverhead(&first);
  EXPECT_EQ(1u, first.GetTraceEventCount());

  while (!chunk.IsFull())
    AddEvent(chunk, 0, "more");
  TraceEventMemoryOverhead full;
  chunk.EstimateTraceMemoryOverhead(&full);
  EXPECT_EQ(64u, full.GetTraceEventCount());
  // Estimated again: the cached tally, unchanged.
  TraceEventMemoryOverhead again;
  chunk.EstimateTraceMemoryOverhead(&again);
  EXPECT_EQ(64u, again.GetTraceEventCount());

  chunk.Reset(2);
  TraceEventMemoryOverhead reset;
  chunk.EstimateTraceMemoryOverhead(&reset);
  EXPECT_EQ(0u, reset.GetTraceEventCount());
}

}  // namespace
}  // namespace base
