// The application server does not answer: every step that needs it tells the user which server
// failed, the list stays closed, and the hourglass never sticks.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
assert(screen !== null && screen.visible, "the screen opens all the same");
function failures() {
    return shell.messages.filter(function (m) { return m.type === "error" && m.text.indexOf("127.0.0.1:1") >= 0; });
}
assert(failures().length >= 1, "the activation says the server failed: " + JSON.stringify(shell.messages));
assert(failures()[0].text.indexOf("REC00800.rdmRecCont") >= 0, "naming the server object: " + failures()[0].text);
assert(shell.cursor === 0, "no hourglass left: " + shell.cursor);

// The company is still checked against the database; loading the list fails.
shell.clearMessages();
screen.control("medCdEmpresa").type("01");
screen.control("dbgPadrao").focus();
assert(screen.control("edtNmEmpresa").text === "Comercial Aurora Distribuidora Ltda", "the database answers");
assert(failures().length >= 1, "loading the list reports the server: " + JSON.stringify(shell.messages));
assert(!screen.dataset("cdsContRec").active, "no list");
assert(!screen.control("sbtFiltro").enabled && !screen.control("sbtContab").enabled, "filter and accounting stay off");
assert(shell.cursor === 0, "no hourglass left after the failed filter: " + shell.cursor);
