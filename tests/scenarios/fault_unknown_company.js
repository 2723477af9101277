// A company the database does not hold, and no company at all: the user is told, the focus stays
// in the company field and the list stays closed.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var company = screen.control("medCdEmpresa");
var grid = screen.control("dbgPadrao");

company.type("77");
grid.focus();
assert(shell.messages.length === 1, JSON.stringify(shell.messages));
assert(shell.messages[0].type === "error" && shell.messages[0].text === "Empresa não cadastrada.", JSON.stringify(shell.messages[0]));
assert(screen.focused === "medCdEmpresa" && company.text === "77", "the focus stays with the code: " + screen.focused);
assert(screen.control("edtNmEmpresa").text === "" && !screen.dataset("cdsContRec").active, "no name, no list");
assert(!screen.control("sbtFiltro").enabled && !screen.control("sbtContab").enabled, "filter and accounting stay off");
assert(shell.serverCalls.every(function (c) { return c.method !== "GetContRec"; }), "nothing was asked of the server");

// An empty code passes the field but not the panel.
shell.clearMessages();
company.setText("");
grid.focus();
assert(shell.messages.length === 1 && shell.messages[0].text === "Empresa deve ser informada.", JSON.stringify(shell.messages));
assert(screen.focused === "medCdEmpresa", "the focus stays in the field");

// Ctrl+L does nothing in the company panel.
company.key("L", ["Ctrl"]);
assert(shell.form("frmFiltroRecalLancContReceber") === null || !shell.form("frmFiltroRecalLancContReceber").visible,
       "no filter dialog");

// A good code then goes through.
shell.clearMessages();
company.type("01");
grid.focus();
assert(shell.messages.length === 0 && screen.dataset("cdsContRec").recordCount > 0, "the list comes");
