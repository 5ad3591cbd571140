#include <gtest/gtest.h>

#include <vector>

#include "io/ImageIO.h"

using namespace veilora;

namespace {

TEST(ImageIOProgressContext, ReportsWithTheComponentAsSender) {
  TImageIO io;
  std::vector<int> reported;
  TObject* sender = nullptr;
  io.OnProgress = [&](TObject& from, int percentage) {
    sender = &from;
    reported.push_back(percentage);
  };
  const TProgressContext context = io.ProgressContext();
  context.Report(40);
  context.Report(80);
  EXPECT_EQ(sender, &io);
  EXPECT_EQ(reported, (std::vector<int>{40, 80}));
}

TEST(ImageIOProgressContext, AbortSetsTheComponentsFlag) {
  TImageIO io;
  const TProgressContext context = io.ProgressContext();
  EXPECT_FALSE(context.Aborted());
  context.Abort();
  EXPECT_TRUE(io.Aborting);
  EXPECT_TRUE(context.Aborted());

  // The context sees the flag itself, not a copy taken when it was made.
  io.Aborting = false;
  EXPECT_FALSE(context.Aborted());
}

}  // namespace
