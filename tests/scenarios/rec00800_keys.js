// REC00800 from the keyboard: Ctrl+L only outside the company panel, Space with modifiers,
// Enter on the list, and a mark-all question answered No.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var company = screen.control("medCdEmpresa");
var grid = screen.control("dbgPadrao");
var accounts = screen.dataset("cdsContRec");
var marks = screen.component("klContMarcadas");

// In the company panel the filter item is off: Ctrl+L opens no dialog (an unhandled one would
// fail the run).
company.type("01");
company.key("L", ["Ctrl"]);
assert(screen.focused === "medCdEmpresa" && !accounts.active, "still entering the company: " + screen.focused);

grid.focus();
assert(accounts.active && accounts.recordCount > 3, "the list is loaded");
var shown = 0;
shell.onModal("frmFiltroRecalLancContReceber", function (filter) { ++shown; filter.close(); });
grid.key("L", ["Ctrl"]);
assert(shown === 1, "Ctrl+L shows the filter from the list: " + shown);
assert(accounts.active && screen.focused === "dbgPadrao", "closing the dialog leaves the list: " + screen.focused);
shell.onModal("frmFiltroRecalLancContReceber", null);

// Space toggles whatever modifier is held.
grid.setCurrentRow(2);
grid.key("Space", ["Shift"]);
assert(accounts.value("IDMARCADO") === "S" && marks.count === 1, "Shift+Space marks");
grid.key("Space", ["Ctrl"]);
assert(accounts.value("IDMARCADO") === "N" && marks.count === 0, "Ctrl+Space unmarks");
grid.key("Space");
assert(grid.cellPicture(2, "IDMARCADO") === "imgCheck" && screen.control("sbtConfirmar").enabled, "marked and drawn");

// A question answered No changes no mark but leaves the cursor on the first row.
grid.setCurrentRow(3);
shell.answer("No");
grid.titleClick("IDMARCADO");
var asked = shell.messages[shell.messages.length - 1];
assert(asked.type === "confirmation" && asked.text === "Deseja desmarcar todas as contas?", JSON.stringify(asked));
assert(marks.count === 1 && accounts.recNo === 1, "nothing changed, first row: " + marks.count + " " + accounts.recNo);
assert(accounts.rows()[2].IDMARCADO === "S", "the mark stays");

// Enter is the base screen's record command: the adjustments page of the current account.
grid.key("Return");
assert(screen.control("pgcPadrao").activePage === "tshFormulario", "Enter shows the adjustments: "
       + screen.control("pgcPadrao").activePage);
assert(accounts.active && marks.count === 1, "the list and its mark stay");
