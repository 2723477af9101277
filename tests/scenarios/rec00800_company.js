// REC00800: choosing the company, by typing and by the lookup list; the company panel switches
// between company entry (list closed) and the account list.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var company = screen.control("medCdEmpresa");
var name = screen.control("edtNmEmpresa");
var grid = screen.control("dbgPadrao");
var accounts = screen.dataset("cdsContRec");

function commands() {
    return ["sbtFiltro", "mnuFiltro", "sbtContab", "tshFormulario"].map(function (n) {
        return screen.control(n).enabled ? 1 : 0;
    }).join("");
}

assert(screen.focused === "medCdEmpresa" && !accounts.active, "company entry at start");
assert(commands() === "0000", "filter, accounting and adjustments wait for a company: " + commands());

// A one-digit code is fitted when the field is left; the name comes with it.
company.type("3");
grid.focus();
assert(company.text === "03" && name.text === "Atacado Serra Azul Ltda", company.text + " " + name.text);
assert(accounts.active && accounts.recordCount === grid.rowCount && grid.rowCount > 0, "the list is loaded");
assert(commands() === "1111", "account list: " + commands());
assert(screen.control("sbtFormulario").enabled && screen.control("mnuFormulario").enabled, "the record command with rows");
assert(accounts.rows().every(function (r) { return r.CDEMPRESA === "03"; }), "only accounts of company 03");

// Back in the panel the list closes with its marks; the list page comes to the front.
grid.key("Space");
assert(screen.component("klContMarcadas").count === 1, "one mark");
screen.control("pgcPadrao").setActivePage("tshFormulario");
company.focus();
assert(!accounts.active && screen.component("klContMarcadas").count === 0, "closed, marks gone");
assert(screen.control("pgcPadrao").activePage === "tshFolhaDados", "list page in front");
assert(commands() === "0000", "company entry again: " + commands());
assert(!screen.control("sbtConfirmar").enabled, "nothing to confirm");

// The lookup list offers every company in code order whatever is typed, and fills code and name.
var offered = [];
shell.onModal("frmPesquisa", function (list) {
    var rows = list.control("dbgPesquisa");
    for (var i = 0; i < rows.rowCount; ++i)
        offered.push(rows.cellText(i, "CDEMPRESA"));
    rows.setCurrentRow(1);
    rows.dblClick();
});
screen.control("btpEmpresa").click();
assert(offered.join(",") === "01,02,03", "offered: " + offered.join(","));
assert(company.text === "02" && name.text === "Indústria Vale Verde S.A.", company.text + " " + name.text);
assert(screen.focused === "medCdEmpresa", "the focus is back in the field: " + screen.focused);

// Leaving the panel with the same company reloads the list.
grid.focus();
var loads = shell.serverCalls.filter(function (c) { return c.method === "GetContRec"; }).length;
company.focus();
grid.focus();
assert(shell.serverCalls.filter(function (c) { return c.method === "GetContRec"; }).length === loads + 1,
       "the same company loads the list again");
assert(shell.messages.length === 0, "no message on the main road: " + JSON.stringify(shell.messages));

// Verify runs the stored filter again without a dialog.
screen.control("sbtVerificar").click();
assert(shell.serverCalls.filter(function (c) { return c.method === "GetContRec"; }).length === loads + 2, "verify reloads");
assert(shell.cursor === 0, "the hourglass is gone");
