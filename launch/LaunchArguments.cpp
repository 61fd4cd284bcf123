#include "launch/LaunchArguments.h"

#include "launch/CredentialToken.h"
#include "support/Trace.h"
#include "support/TraceLines.h"

std::string PasswordArgument(const std::string& password)
{
    if (password.size() == kTokenChars || password.empty())
        return password;
    if (password.size() > kMaxPasswordBytes) {
        TraceOut(TraceLine::kPasswordNotPassed, static_cast<int>(password.size()));
        return std::string();
    }
    return EncodePassword(password);
}

LaunchArguments BuildLaunchArguments(const std::string& id, const std::string& password, const std::string& key)
{
    const std::string passwordArgument = PasswordArgument(password);
    LaunchArguments result;
    result.arguments.reserve(id.size() + passwordArgument.size() + key.size() + 32);
    result.arguments += " /NAME:";
    result.arguments += id;
    result.arguments += " /PASSWORD:";
    result.arguments += passwordArgument;
    result.arguments += " /JOINKEY:";
    result.arguments += key.empty() ? kDefaultJoinKey : key;
    result.passToClient = !id.empty() && !passwordArgument.empty();
    return result;
}
