// The control from script: Wine's cscript runs JScript that creates the
// control by its ProgID, as a page's script would.
#include <windows.h>

#include <gtest/gtest.h>

#include "ControlTestSupport.h"
#include "WineTestSupport.h"

using namespace control_test;
using namespace wine_test;

namespace {

// cscript reports script errors on its output but exits 0 all the same: the
// script prints one summary line, which is what the test matches.
const char kScript[] = R"(var failures = [];
function check(name, got, want) {
    if (got !== want) failures.push(name + "=" + escape(got));
}
var o = new ActiveXObject("VANTORIMA.VantorimaCtrl.1");
check("fresh", o.strID + o.strPass + o.key + o.strServer, "");
o.strID = "\u68cb\u624b \u4e00";
o.strPass = "";
o.key = "1000";
o.strServer = "go.example:7000";
check("strID", o.strID, "\u68cb\u624b \u4e00");
check("strPass", o.strPass, "");
check("key", o.key, "1000");
check("strServer", o.strServer, "go.example:7000");
o.key = 42;
check("number", o.key, "42");
o.strPass = "p\u0e01ss";
check("cp936", o.strPass, "p?ss");
var caught = "none";
try { o.noSuchMember = 1; o.noSuchMethod(); } catch (e) { caught = "error"; }
check("unknown", caught, "error");
WScript.Echo("RESULT " + (failures.length == 0 ? "ok" : failures.join(" ")));
)";

}  // namespace

TEST(ControlFromScript, JScriptSetsAndReadsAllFourProperties)
{
    COleApartment apartment;
    COcxModule module;
    ASSERT_EQ(module.Register(), S_OK);
    CScratchDir dir("vantorima script");
    ASSERT_TRUE(WriteFileBytes(dir.File("properties.js"), kScript));

    std::string output;
    const DWORD code = RunProgram("cscript.exe //nologo \"" + dir.File("properties.js") + "\"", &output);
    EXPECT_EQ(code, 0u);
    EXPECT_NE(output.find("RESULT ok"), std::string::npos) << output;
    EXPECT_EQ(module.Unregister(), S_OK);
}
