// REC00801: the filter dialog's defaults from the server's parameters and --today, a validation
// message with its page and focus, a narrowed filter that the server applies with its own
// today, a customer list picked in the multi-selection picker, and cancelling.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
var all = accounts.recordCount;
function lastQuery() {
    var q = shell.serverCalls.filter(function (c) { return c.method === "GetContRec"; });
    return q.length ? q[q.length - 1].params : null;
}

var seen = {};
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    var c = function (n) { return filter.control(n); };
    seen.caption = filter.caption;
    seen.defaults = [c("depVencIni").text, c("depVencFin").text, c("cbbStatus").text, c("rdgCtbl").itemIndex,
                     c("rgpTipo").itemIndex, c("rbtTodosClie").checked].join("|");

    // A start after the end: the message, the page of the field and the focus in it.
    c("pgcPadrao").setActivePage("tshDocumento");
    c("depVencIni").setText("20/04/2024");
    c("sbtConfirma").click();
    seen.invalid = shell.messages.length ? shell.messages[shell.messages.length - 1].text : "";
    seen.invalidPlace = c("pgcPadrao").activePage + "|" + filter.focused + "|" + filter.visible;

    // Due from today on, not yet accounted.
    c("depVencIni").setText("14/02/2024");
    c("chbAVencer").click();
    c("rdgCtbl").select(1);
    c("sbtConfirma").click();
    seen.closed = !filter.visible;
});
screen.control("sbtFiltro").click();
assert(seen.caption === "Filtro de Recálculo de Contas a Receber", seen.caption);
assert(seen.defaults === "14/02/2024|14/04/2024|Todas|2|0|true", "defaults from today 2024-03-15 and 30 days: " + seen.defaults);
assert(seen.invalid === "Data de vencimento inicial deve ser menor ou igual a data de vencimento final.", seen.invalid);
assert(seen.invalidPlace === "tshContReceber|depVencIni|true", "page, focus, still open: " + seen.invalidPlace);
assert(seen.closed, "a good filter closes the dialog");

var q = lastQuery();
assert(q[12] === "2024-02-14" && q[13] === "2024-04-14" && q[19] === true && q[20] === false && q[22] === "N" && q[23] === "5",
       "arguments: " + JSON.stringify(q));
var rows = accounts.rows();
assert(rows.length > 0 && rows.length < all, "a narrower list: " + rows.length + " of " + all);
assert(rows.every(function (r) { return r.IDCTBLCTREC === "N"; }), "only accounts not yet accounted");
var dueFrom = rows.map(function (r) { return r.DTATUAVENREC.split("/").reverse().join("-"); }).sort()[0];
assert(dueFrom >= "2024-03-15", "the server takes --today as today for A Vencer: " + dueFrom);
assert(screen.component("klContMarcadas").count === 0 && screen.focused === "dbgPadrao", "a fresh list, focus kept");

// Only two customers, picked in the multi-selection picker.
var customers = [];
shell.onModal("frmPesquisaLista", function (picker) {
    var list = picker.control("dbgLista");
    list.setCurrentRow(0);
    list.key("Space");
    list.setCurrentRow(2);
    list.dblClick();
    customers = [list.cellText(0, "CDCLIENTE"), list.cellText(2, "CDCLIENTE")];
    picker.control("btnOk").click();
});
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    var c = function (n) { return filter.control(n); };
    seen.kept = c("rdgCtbl").itemIndex;
    c("rdgCtbl").select(2);
    c("pgcPadrao").setActivePage("tshDocumento");
    c("rbtListaClie").click();
    c("btnListClie").click();
    c("sbtConfirma").click();
});
screen.control("sbtFiltro").click();
assert(seen.kept === 1, "the dialog shows the stored filter: " + seen.kept);
q = lastQuery();
assert(q[21] === customers.join(";"), "the picked customers travel as a list: " + q[21] + " / " + customers);
assert(accounts.rows().every(function (r) { return customers.indexOf(r.CDCLIENTE) >= 0; }), "only their accounts");

// Cancelling changes nothing; Desfazer inside the dialog is undone by the cancel as well.
function queries() {
    return shell.serverCalls.filter(function (c) { return c.method === "GetContRec"; }).length;
}
var calls = queries();
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    filter.control("sbtLimpa").click();
    seen.reset = filter.control("cbbStatus").text + "|" + filter.control("rbtTodosClie").checked;
    filter.control("sbtFechar").click();
});
screen.control("sbtFiltro").click();
assert(seen.reset === "Baixada|true", "Desfazer resets the controls: " + seen.reset);
assert(queries() === calls, "a cancelled dialog loads nothing");
screen.control("sbtVerificar").click();
assert(lastQuery()[21] === customers.join(";"), "verify runs the stored filter, not the undone controls");
