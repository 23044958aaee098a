#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "pdb8.h"
#include "string_tool2.h"
#include "test_util.h"

namespace {

struct Fatal : std::runtime_error {
    Fatal() : std::runtime_error("fatal") {}
};

TEST(Err, PrintsTheBlockAndExitsWithStatus1) {
    EXPECT_FATAL(err("SUB:GET_PDB_INDEX", "Residue not found in this PDB file"),
                 "^\n>ERROR IN SUB:GET_PDB_INDEX\n>ERRROR : Residue not found in this PDB file\n\n$");
    EXPECT_FATAL(err1("MAIN:VOXDEN", "x"), "^\n>ERROR IN MAIN:VOXDEN\n>ERRROR : x\n\n$");
}

TEST(Err, AnInstalledHandlerTakesOverAfterTheBlockIsPrinted) {
    const FatalHandler previous = set_fatal_handler([] { throw Fatal(); });
    testing::internal::CaptureStdout();
    EXPECT_THROW(err("WHERE", "what"), Fatal);
    EXPECT_THROW(err1("WHERE1", "what1"), Fatal);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n>ERROR IN WHERE\n>ERRROR : what\n\n\n>ERROR IN WHERE1\n>ERRROR : what1\n\n");
    EXPECT_EQ(previous, nullptr);  // by default the process exits
    set_fatal_handler(previous);
}

}  // namespace
