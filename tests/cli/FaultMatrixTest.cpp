#include "bench/FaultMatrix.h"

#include <gtest/gtest.h>

#include "tests/support/TempFiles.h"
#include "tests/support/TestFirmware.h"

namespace qv::test {
namespace {

TEST(FaultMatrix, NoSingleFaultEndsInAFalseSuccessOrAZeroExitWithoutOne) {
  const std::vector<std::uint8_t> image = TestImage(2048);
  TempDir dir;
  const bench::FaultMatrix matrix = bench::RunFaultMatrix(image, dir.Path());
  ASSERT_GT(matrix.cleanRequests, 400u);
  ASSERT_EQ(matrix.runs.size(), 2 * matrix.cleanRequests);
  std::size_t successes = 0, failures = 0;
  for (const bench::FaultRun& run : matrix.runs) {
    SCOPED_TRACE(testing::Message()
                 << (run.fault == bench::Fault::kGoneAfter ? "gone after " : "failing ") << run.n);
    EXPECT_FALSE(bench::IsFalseOutcome(run)) << "exit " << run.exit;
    if (run.reportedSuccess) {
      EXPECT_TRUE(run.flashHoldsImage);
      ++successes;
    } else {
      EXPECT_NE(run.exit, 0);
      ++failures;
    }
  }
  // Both kinds of outcome occur: retries recover from one refused request, a device that
  // leaves is no update.
  EXPECT_GT(successes, matrix.cleanRequests);
  EXPECT_GT(failures, matrix.cleanRequests / 2);
}

}  // namespace
}  // namespace qv::test
