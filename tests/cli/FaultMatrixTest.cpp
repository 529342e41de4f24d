#include "bench/FaultMatrix.h"

#include <gtest/gtest.h>

#include "tests/image/TempFiles.h"

namespace qv::test {
namespace {

TEST(FaultMatrix, NoSingleFaultEndsInAFalseSuccessOrAZeroExitWithoutOne) {
  std::vector<std::uint8_t> image(2048);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 13 % 253);
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
