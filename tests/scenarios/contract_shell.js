// The global shell: date, cursor, screens opened, busy events, screenshots, log and assert.
assert(shell.today === "2024-03-15", "today: " + shell.today);
assert(shell.cursor === 0, "cursor at start: " + shell.cursor);
assert(shell.form("frmRecCont") === null, "no screen is open before the script opens one");
assert(shell.openedScreens.length === 0, "opened at start: " + JSON.stringify(shell.openedScreens));
assert(Array.isArray(shell.busyEvents), "busyEvents is an array");

shell.open("REC00800");
var screen = shell.form("frmRecCont");
assert(screen !== null && screen.visible, "REC00800 is shown");
assert(shell.cursor === 0, "the hourglass is gone once the screen is open: " + shell.cursor);
var opened = shell.openedScreens;
assert(opened.length === 1 && opened[0].code === "REC00800", "opened: " + JSON.stringify(opened));
assert(Array.isArray(opened[0].params) && opened[0].params.length === 0, "REC00800 opens without params");

// Opening it again brings the same screen forward; the shell records the second entry call.
shell.open("REC00800");
assert(shell.openedScreens.length === 2, "second open recorded");
shell.clearOpenedScreens();
assert(shell.openedScreens.length === 0, "clearOpenedScreens empties the list");

// An unknown screen code is reported to the user as an error, not thrown at the script.
shell.open("XYZ99999");
var last = shell.messages[shell.messages.length - 1];
assert(last.type === "error" && last.text.indexOf("XYZ99999") >= 0, "unknown screen: " + JSON.stringify(last));

shell.processEvents();
shell.screenshot("shots/shell.png");
var thrown = "";
try {
    shell.screenshot("/proc/no-such-dir/x.png");
} catch (e) {
    thrown = String(e);
}
assert(thrown.indexOf("x.png") >= 0, "a screenshot that cannot be written throws: " + thrown);

log("objeto", {a: 1}, [1, 2], null, 3.5, "fim");
