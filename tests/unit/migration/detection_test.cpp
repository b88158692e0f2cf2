#include <gtest/gtest.h>

#include "migration/paths.h"

TEST(ChoosePath, RegisteredAndPresentNewAgentRestartsWhateverTheArguments) {
    EXPECT_EQ(choosePath(true, true, 1), RunPath::Restart);
    EXPECT_EQ(choosePath(true, true, 3), RunPath::Restart);
}

TEST(ChoosePath, AnyArgumentForbidsTheMigration) {
    EXPECT_EQ(choosePath(false, true, 2), RunPath::Fallback);
    EXPECT_EQ(choosePath(true, false, 2), RunPath::Fallback);
}

TEST(ChoosePath, NewAgentFilesWithoutItsServiceMigrate) {
    EXPECT_EQ(choosePath(false, true, 1), RunPath::Migration);
    EXPECT_EQ(choosePath(false, true, 0), RunPath::Migration);
}

TEST(ChoosePath, NoNewAgentFilesFallsBack) {
    EXPECT_EQ(choosePath(false, false, 1), RunPath::Fallback);
    // Registered but its executable is missing: the executable decides.
    EXPECT_EQ(choosePath(true, false, 1), RunPath::Fallback);
}

TEST(ChoosePath, AnInterruptedMigrationIsFinishedWhateverTheNewAgentsRegistration) {
    EXPECT_EQ(choosePath(true, true, true, 1), RunPath::Migration);
    EXPECT_EQ(choosePath(true, false, true, 0), RunPath::Migration);
    // An argument still forbids the migration; without the new agent's files there is nothing
    // to finish it with.
    EXPECT_EQ(choosePath(true, true, true, 2), RunPath::Restart);
    EXPECT_EQ(choosePath(true, false, true, 2), RunPath::Fallback);
    EXPECT_EQ(choosePath(true, true, false, 1), RunPath::Fallback);
}
