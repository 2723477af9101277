// The accounting screen CTB10200 as REC00800 opens it: with the hand-over of a recalculation
// that found errors, and from the "Contabilizar" button on the posting of an accounted account
// or adjustment.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
function rowWhere(test) {
    var rows = accounts.rows();
    for (var i = 0; i < rows.length; ++i)
        if (test(rows[i]))
            return i;
    throw new Error("no such account in the list");
}
function handOvers() {
    return shell.openedScreens.filter(function (s) { return s.code === "CTB10200"; });
}

// Errors of a recalculation: entries, apportionment and errors with their descriptions.
grid.setCurrentRow(rowWhere(function (r) { return r.CDTPCTRECEB === "PROM"; }));
grid.key("Space");
screen.control("sbtConfirmar").click();
var ctb = shell.form("frmCTB10200");
assert(ctb !== null && ctb.visible, "CTB10200 is shown");
assert(ctb.control("edtCdEmpresa").text === "01" && ctb.control("edtNmEmpresa").text === "Comercial Aurora Distribuidora Ltda",
       "company: " + ctb.control("edtCdEmpresa").text + " " + ctb.control("edtNmEmpresa").text);
assert(ctb.control("edtNrLancto").text === "", "no posting number for a hand-over of errors");
var errors = ctb.dataset("cdsErrosTemp");
assert(errors.recordCount > 0 && errors.text("CDERROTEMP") !== "", "errors listed: " + errors.recordCount);
assert(ctb.dataset("cdsLancContTemp").recordCount === handOvers()[0].params[2].rows.length, "the entries handed over");
ctb.control("pgcCTB10200").setActivePage("tshErros");
assert(ctb.control("pgcCTB10200").activePage === "tshErros", "the errors page");
ctb.control("btnFechar").click();
assert(shell.form("frmCTB10200") === null || !shell.form("frmCTB10200").visible, "closed");

// The button on an accounted account: its posting number, and the temporary datasets emptied.
shell.open("REC00800");
grid.focus();
var accounted = rowWhere(function (r) { return r.NRLANCTBDOC !== ""; });
grid.setCurrentRow(accounted);
var posting = accounts.text("NRLANCTBDOC");
shell.clearOpenedScreens();
screen.control("sbtContab").click();
var handed = handOvers();
assert(handed.length === 1, "one hand-over: " + JSON.stringify(shell.openedScreens.map(function (s) { return s.code; })));
var p = handed[0].params;
assert(p[0] === "01" && p[1] === posting, "company and posting: " + JSON.stringify(p.slice(0, 2)));
assert(p[2].rows.length === 0 && p[3].rows.length === 0 && p[4].rows.length === 0, "the datasets were emptied first");
assert(screen.dataset("cdsErrosTemp").recordCount === 0, "REC00800 keeps them empty");
ctb = shell.form("frmCTB10200");
assert(ctb.control("edtNrLancto").text === posting, "the posting is shown: " + ctb.control("edtNrLancto").text);
assert(ctb.dataset("cdsLancContTemp").recordCount >= 2, "a posting has debit and credit entries");
assert(shell.messages.length === 0, "no message: " + JSON.stringify(shell.messages));
