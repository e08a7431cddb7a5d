#include "app/CommandLine.h"
#include <gtest/gtest.h>

namespace harvolin
{
namespace
{

using TAction = TCommandLine::TAction;

TCommandLine Accepted(const std::vector<std::string>& arguments)
{
    const TCommandLineResult result = ParseCommandLine(arguments);
    EXPECT_TRUE(result.CommandLine.has_value()) << result.Error;
    return result.CommandLine.value_or(TCommandLine{});
}

std::string Refusal(const std::vector<std::string>& arguments)
{
    const TCommandLineResult result = ParseCommandLine(arguments);
    EXPECT_FALSE(result.CommandLine.has_value());
    EXPECT_FALSE(result.Error.empty());
    return result.Error;
}

TEST(CommandLineTest, NothingOpensTheWindowOnTheDefaultDevice)
{
    const TCommandLine line = Accepted({});
    EXPECT_EQ(line.Action, TAction::Run);
    EXPECT_FALSE(line.Device.has_value());
}

TEST(CommandLineTest, ADeviceIsTakenInEitherFormWithItsNameAsGiven)
{
    EXPECT_EQ(Accepted({"--device", "HDA Intel PCH, ALC892 Analog"}).Device, "HDA Intel PCH, ALC892 Analog");
    EXPECT_EQ(Accepted({"--device=Null renderer"}).Device, "Null renderer");
    // A name that looks like an option is still a name after --device.
    EXPECT_EQ(Accepted({"--device", "--help"}).Device, "--help");
}

TEST(CommandLineTest, EachActionIsRecognised)
{
    EXPECT_EQ(Accepted({"--help"}).Action, TAction::Help);
    EXPECT_EQ(Accepted({"-h"}).Action, TAction::Help);
    EXPECT_EQ(Accepted({"--version"}).Action, TAction::Version);
    EXPECT_EQ(Accepted({"--list-devices"}).Action, TAction::ListDevices);
}

TEST(CommandLineTest, BadArgumentsAreRefusedNamingTheArgumentAndTheForm)
{
    EXPECT_NE(Refusal({"--volume", "50"}).find("'--volume'"), std::string::npos);
    EXPECT_NE(Refusal({"-platform", "xcb"}).find("'-platform'"), std::string::npos);
    EXPECT_NE(Refusal({"--device"}).find("--device NAME"), std::string::npos);
    EXPECT_NE(Refusal({"--device="}).find("--device NAME"), std::string::npos);
    EXPECT_NE(Refusal({"--device", "a", "--device", "b"}).find("twice"), std::string::npos);
    EXPECT_NE(Refusal({"--help", "--version"}).find("'--version'"), std::string::npos);
    EXPECT_NE(Refusal({"--list-devices", "--device", "x"}).find("--device"), std::string::npos);
}

TEST(CommandLineTest, DeviceNamesMatchAsListedAndDefaultInAnyCase)
{
    const std::vector<std::string> listed{"Default", "HDA Intel PCH, ALC892 Analog", "Null renderer"};
    EXPECT_EQ(MatchDeviceName("Null renderer", listed), "Null renderer");
    EXPECT_EQ(MatchDeviceName("default", listed), "Default");
    EXPECT_EQ(MatchDeviceName("DEFAULT", {}), "Default");
    // Listed names are told apart exactly, as the device object looks them up.
    EXPECT_FALSE(MatchDeviceName("null renderer", listed).has_value());
    EXPECT_FALSE(MatchDeviceName("HDA Intel PCH", listed).has_value());
}

}   // namespace
}   // namespace harvolin
