// The server refuses a recalculation (scripted server): first with a status text, then with a
// business error. Each is shown as it stands; the list and its marks stay, nothing is handed on.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
assert(grid.rowCount === 2, "the scripted list: " + grid.rowCount);
assert(grid.cellText(1, "DOCUMENTO") !== "" && grid.cellText(1, "VRATUAREC") === "830,25", grid.cellText(1, "VRATUAREC"));
grid.setCurrentRow(1);
grid.key("Space");
var confirm = screen.control("sbtConfirmar");
confirm.click();

var m = shell.messages;
assert(m.length === 1 && m[0].type === "error" && m[0].text === "Valor da conta foi alterado por outro usuário.", JSON.stringify(m));
assert(screen.component("klContMarcadas").count === 1 && screen.dataset("cdsContRec").value("IDMARCADO") === "S", "the mark stays");
assert(shell.openedScreens.every(function (s) { return s.code !== "CTB10200"; }), "nothing handed on");
assert(!confirm.enabled, "confirm is off until the next change of the list");
assert(shell.cursor === 0 && shell.busyEvents[shell.busyEvents.length - 1] === "hide", "no hourglass, no animation");

// A new mark makes confirm available again; the second refusal is a server error.
shell.clearMessages();
grid.setCurrentRow(0);
grid.key("Space");
assert(confirm.enabled, "a new mark enables confirm");
confirm.click();
m = shell.messages;
assert(m.length === 1 && m[0].text === "Operação bloqueada. Documento em alteração por outro usuário.", JSON.stringify(m));
assert(screen.component("klContMarcadas").count === 2, "both marks stay");
var sent = shell.serverCalls.filter(function (c) { return c.method === "SetConfirmar"; });
assert(sent.length === 2 && sent[1].params[0].rows.filter(function (r) { return r[0] === "S"; }).length === 2,
       "the second call carries both marks");
