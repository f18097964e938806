// Copying and assigning a volume object when an allocation fails: whichever allocation throws,
// both objects stay as they were, and every handle and buffer is released exactly once later.
#include <Kestro32.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include <allocation_log.h>
#include <fake_world.h>

#if KESTRO_HAVE_ALLOCATION_LOG

using namespace win32;

namespace {

class CopyUnderAllocationFailure : public kestro::testing::FakeWorld {
 protected:
  std::unique_ptr<CKestro32> Opened(const std::u16string& name) {
    auto volume = std::make_unique<CKestro32>();
    volume->m_hDisk = OpenDevice(name, std::vector<uint8_t>(4096));
    volume->Initial(4096);
    return volume;
  }

  // Runs `operation` with every allocation allowed, to learn the sizes it allocates, then once
  // more per allocation with that one failing. `check` follows each failed run.
  template <typename SetUp, typename Operation, typename Check>
  void FailEachAllocation(SetUp setUp, Operation operation, Check check) {
    {
      // Containers that keep their storage once grown do so before the sizes are learnt.
      auto warmUp = setUp();
      operation(warmUp);
    }
    std::vector<size_t> sizes;
    {
      fake.ClearCalls();
      requester.events.clear();
      auto objects = setUp();
      kestro::testing::AllocationLog log;
      operation(objects);
      for (const std::string& event : log.Events(0)) {
        if (event.rfind("new ", 0) == 0) sizes.push_back(std::stoul(event.substr(4)));
      }
      sizes.pop_back();  // the log's own copy of its entries, made by Events
    }
    ASSERT_FALSE(sizes.empty());
    for (size_t index = 0; index < sizes.size(); ++index) {
      SCOPED_TRACE(index);
      fake.ClearCalls();
      requester.events.clear();
      auto objects = setUp();
      int skip = 0;
      for (size_t i = 0; i < index; ++i) skip += sizes[i] == sizes[index] ? 1 : 0;
      {
        kestro::testing::AllocationLog log;
        log.FailAllocation(sizes[index], skip);
        EXPECT_THROW(operation(objects), std::bad_alloc);
      }
      check(objects);
    }
  }

  void ExpectEverythingReleasedOnce(size_t handles, size_t buffers) {
    EXPECT_EQ(fake.CountOf(Kernel32Call::CloseHandle), handles);
    EXPECT_EQ(fake.CountOf(Kernel32Call::VirtualFree), buffers);
    EXPECT_EQ(fake.OpenHandleCount(), 0u);
    EXPECT_EQ(fake.LiveAllocationCount(), 0u);
  }
};

// The first copy lists the handle and buffer, the second joins the lists.
struct Copies {
  std::unique_ptr<CKestro32> source, first, second;
};

TEST_F(CopyUnderAllocationFailure, AFailedCopyTakesNothing) {
  FailEachAllocation(
      [&] {
        return Copies{Opened(u"\\\\.\\C:"), nullptr, nullptr};
      },
      [](Copies& copies) {
        copies.first = std::make_unique<CKestro32>(*copies.source);
        copies.second = std::make_unique<CKestro32>(*copies.source);
      },
      [&](Copies& copies) {
        copies.first.reset();
        EXPECT_EQ(copies.second, nullptr);
        ASSERT_NE(copies.source->m_pBuffer, nullptr);
        copies.source->m_pBuffer[4095] = 1;  // still allocated
        EXPECT_EQ(fake.OpenHandleCount(), 1u);
        copies.source.reset();
        ExpectEverythingReleasedOnce(1, 1);
      });
}

// The target shares its own handle and buffer with a sibling before the assignment.
struct Assignment {
  std::unique_ptr<CKestro32> source, target, sibling;
  HANDLE handle;
  BYTE* buffer;
};

TEST_F(CopyUnderAllocationFailure, AFailedAssignmentLeavesBothObjectsAsTheyWere) {
  FailEachAllocation(
      [&] {
        Assignment objects{Opened(u"\\\\.\\C:"), Opened(u"\\\\.\\D:"), nullptr, nullptr, nullptr};
        objects.sibling = std::make_unique<CKestro32>(*objects.target);
        objects.handle = objects.target->m_hDisk;
        objects.buffer = objects.target->m_pBuffer;
        objects.target->m_llPos = 77;
        return objects;
      },
      [](Assignment& objects) { *objects.target = *objects.source; },
      [&](Assignment& objects) {
        EXPECT_EQ(objects.target->m_hDisk, objects.handle);
        EXPECT_EQ(objects.target->m_pBuffer, objects.buffer);
        EXPECT_EQ(objects.target->m_llPos, 77u);
        EXPECT_NE(objects.source->m_hDisk, objects.handle);
        // The target still holds its handle and buffer once its sibling is gone.
        objects.sibling.reset();
        objects.target->m_pBuffer[4095] = 1;
        EXPECT_EQ(fake.CountOf(Kernel32Call::CloseHandle), 0u);
        objects.source.reset();
        objects.target.reset();
        ExpectEverythingReleasedOnce(2, 2);
      });
}

}  // namespace

#endif
