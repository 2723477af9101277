// Messages and answers: every dialog is recorded as {type, text, answer}; questions take the
// queued answers in order.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var company = screen.control("medCdEmpresa");
var grid = screen.control("dbgPadrao");

// An error with one button is answered OK by itself.
company.type("99");
grid.focus();
var m = shell.messages;
assert(m.length === 1, "one message: " + JSON.stringify(m));
assert(m[0].type === "error" && m[0].text === "Empresa não cadastrada." && m[0].answer === "OK", JSON.stringify(m[0]));
shell.clearMessages();
assert(shell.messages.length === 0, "clearMessages empties the record");

company.setText("01");
grid.focus();
assert(grid.rowCount > 0, "the list is loaded");

// Two questions, two answers, taken in order: No leaves the marks, Yes marks every account.
shell.answer("No", "Yes");
grid.titleClick("IDMARCADO");
assert(screen.component("klContMarcadas").count === 0, "No marks nothing");
grid.titleClick("IDMARCADO");
assert(screen.component("klContMarcadas").count === grid.rowCount, "Yes marks every account");
m = shell.messages;
assert(m.length === 2, JSON.stringify(m));
assert(m[0].type === "confirmation" && m[0].text === "Deseja marcar todas as contas?" && m[0].answer === "No", JSON.stringify(m[0]));
assert(m[1].answer === "Yes", JSON.stringify(m[1]));

// With marks the same title asks the other question.
shell.answer("Yes");
grid.titleClick("IDMARCADO");
assert(shell.messages[2].text === "Deseja desmarcar todas as contas?", JSON.stringify(shell.messages[2]));
assert(screen.component("klContMarcadas").count === 0, "Yes unmarks every account");

// A name that is no button is the script's mistake.
var thrown = "";
try {
    shell.answer("Talvez");
} catch (e) {
    thrown = String(e);
}
assert(thrown.indexOf("Talvez") >= 0, "unknown answer throws: " + thrown);
