// REC00800: marking accounts and confirming. An account whose accounting has errors goes to
// CTB10200 with the entries, apportionment and errors; a sound one is recalculated, the list is
// reloaded and the user is told.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
var confirm = screen.control("sbtConfirmar");

function rowWhere(test) {
    var rows = accounts.rows();
    for (var i = 0; i < rows.length; ++i)
        if (test(rows[i]))
            return i;
    throw new Error("no such account in the list");
}
function accountKey(r) {
    return r.CDFILIAL + r.NRPARCELAREC + r.NRLANCTONF + r.NRSEQVENREC;
}

// A promissory note of company 01 has no postable debit account: the check finds errors.
var faulty = rowWhere(function (r) { return r.CDTPCTRECEB === "PROM"; });
grid.setCurrentRow(faulty);
grid.dblClick();
assert(grid.cellPicture(faulty, "IDMARCADO") === "imgCheck", "marked");
assert(confirm.enabled && screen.control("mnuConfirmar").enabled, "confirm is available");
shell.clearServerCalls();
confirm.click();

var sent = shell.serverCalls.filter(function (c) { return c.method === "SetConfirmar"; });
assert(sent.length === 1, "one recalculation call: " + JSON.stringify(shell.serverCalls.map(function (c) { return c.method; })));
var packet = sent[0].params[0];
assert(sent[0].params[2] === "01" && typeof sent[0].params[1] === "string" && sent[0].params[1] !== "",
       "operator and company: " + JSON.stringify(sent[0].params.slice(1)));
assert(packet.fields.length === 27 && packet.rows.length === accounts.recordCount, "the whole list goes, marks included");
var marks = packet.rows.filter(function (r) { return r[0] === "S"; });
assert(marks.length === 1, "one row marked S: " + marks.length);

var handed = shell.openedScreens.filter(function (s) { return s.code === "CTB10200"; });
assert(handed.length === 1, "CTB10200 opened: " + JSON.stringify(shell.openedScreens.map(function (s) { return s.code; })));
var params = handed[0].params;
assert(params.length === 5 && params[0] === "01" && params[1] === "", "company and no posting number: " + JSON.stringify(params.slice(0, 2)));
assert(params[2].rows.length > 0 && params[4].rows.length > 0, "entries and errors handed over");
assert(params[4].fields.map(function (f) { return f.name; }).join(",") === "CDERROTEMP,NRSEQCTBTEMP", "error packet fields");
assert(shell.messages.length === 0, "no message on hand-over: " + JSON.stringify(shell.messages));
var accounting = shell.form("frmCTB10200");
assert(accounting !== null && accounting.visible, "the accounting screen is shown");
// CTB10200 now covers the mark column, so the mark is read from the list itself.
assert(screen.component("klContMarcadas").count === 1 && accounts.rows()[faulty].IDMARCADO === "S",
       "the list and its marks stay");
assert(!confirm.enabled, "confirm is disabled after every confirmation");
var busy = shell.busyEvents.join(",");
assert(busy.indexOf("show:1,show:6") >= 0 && busy.lastIndexOf("hide") > busy.indexOf("show:6"), "busy animation: " + busy);
assert(shell.cursor === 0, "cursor back to default");

// Back on REC00800: unmark everything, then mark a sound duplicate of branch 0101.
shell.open("REC00800");
screen.control("medCdEmpresa").focus();
grid.focus();
var sound = rowWhere(function (r) { return r.CDTPCTRECEB === "DUP" && r.CDFILIAL === "0101" && r.IDCTBLCTREC === "N"; });
var key = accountKey(accounts.rows()[sound]);
grid.setCurrentRow(sound);
grid.key("Space");
assert(screen.component("klContMarcadas").count === 1, "one account marked");
shell.clearMessages();
shell.clearOpenedScreens();
confirm.click();

var m = shell.messages;
assert(m.length === 1 && m[0].type === "information"
       && m[0].text === " Recálculo da contabilização de contas a receber foi realizado com sucesso.", JSON.stringify(m));
assert(shell.openedScreens.length === 0, "no hand-over on success");
assert(screen.component("klContMarcadas").count === 0 && !confirm.enabled, "the reloaded list has no marks");
var after = accounts.rows().filter(function (r) { return accountKey(r) === key; });
assert(after.length === 1 && after[0].IDCTBLCTREC === "S" && after[0].NRLANCTBDOC !== "",
       "the account is accounted now: " + JSON.stringify(after[0]));
