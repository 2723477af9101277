// REC00800 from the keyboard and at a glance: a click into the empty company field puts the
// caret at its start, the filter dialog confirms with Ctrl+Enter, and the navigator line counts
// the listed and marked accounts as the marks change.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var company = screen.control("medCdEmpresa");
var grid = screen.control("dbgPadrao");
var accounts = screen.dataset("cdsContRec");
var counts = screen.control("lblContagem");
function thousands(n) { return String(n).replace(/\B(?=(\d{3})+(?!\d))/g, "."); }
function countsText(listed, marked) {
    return thousands(listed) + (listed === 1 ? " conta, " : " contas, ") + thousands(marked)
           + (marked === 1 ? " marcada" : " marcadas");
}

// Clicked anywhere, the empty field takes what is typed from its first position.
company.click();
assert(screen.component("medCdEmpresa").cursorPosition === 0,
       "caret after the click: " + screen.component("medCdEmpresa").cursorPosition);
company.key("0");
company.key("1");
assert(company.text === "01", "typed after a click: '" + company.text + "'");
assert(counts.text === "", "no list, no counts: " + counts.text);

grid.focus();
var listed = accounts.recordCount;
assert(listed > 3, "the list is loaded");
assert(counts.text === countsText(listed, 0), counts.text);
assert(screen.control("dbtNome").text === accounts.text("IDCONTA"), "the navigator keeps its own text");

grid.setCurrentRow(1);
grid.key("Space");
assert(counts.text === countsText(listed, 1), "one mark: " + counts.text);
shell.answer("Yes");
grid.titleClick("IDMARCADO"); // unmarks all
assert(counts.text === countsText(listed, 0), "unmarked: " + counts.text);
shell.answer("Yes");
grid.titleClick("IDMARCADO"); // marks all
assert(counts.text === countsText(listed, screen.component("klContMarcadas").count)
       && screen.component("klContMarcadas").count > 1, "all marked: " + counts.text);

// Ctrl+Enter in a field of the filter dialog runs what its confirm button runs.
assert(screen.control("sbtFiltro").hint === "Filtrar (Ctrl+L)", screen.control("sbtFiltro").hint);
shell.clearServerCalls();
var seen = {};
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    seen.hint = filter.control("sbtConfirma").hint;
    var due = filter.control("depVencIni");
    filter.control("pgcPadrao").setActivePage("tshContReceber");
    due.focus();
    due.setText("10/03/2024");
    due.key("Return", ["Ctrl"]);
    seen.closed = !filter.visible;
});
grid.key("L", ["Ctrl"]);
shell.onModal("frmFiltroRecalLancContReceber", null);
assert(seen.hint === "Confirmar (Ctrl+Enter)", seen.hint);
assert(seen.closed, "Ctrl+Enter confirmed and closed the dialog");
var queries = shell.serverCalls.filter(function (c) { return c.method === "GetContRec"; });
assert(queries.length === 1, "one query: " + queries.length);
assert(counts.text === countsText(accounts.recordCount, 0), "a new list, no marks: " + counts.text);
assert(shell.messages.length === 2, "only the two questions: " + JSON.stringify(shell.messages));
