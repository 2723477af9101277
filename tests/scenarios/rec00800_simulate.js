// REC00800's "Simular" (Shift+F2): enabled with the confirm, it sends the list as the confirm
// does and opens CTB10200 on "Diferenças"; nothing is recalculated, the list and its marks stay.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
var grid = screen.control("dbgPadrao");
grid.focus();
var accounts = screen.dataset("cdsContRec");
var simulate = screen.control("sbtSimular");
assert(!simulate.enabled && !screen.control("mnuSimular").enabled, "nothing marked, nothing to simulate");

// Three sound accounts not yet accounted and three already accounted.
var rows = accounts.rows();
var fresh = 0, accounted = 0, expected = {};
for (var i = 0; i < rows.length && (fresh < 3 || accounted < 3); ++i) {
    var r = rows[i];
    if (r.CDTPCTRECEB !== "DUP" || r.CDFILIAL !== "0101")
        continue;
    var isNew = r.IDCTBLCTREC === "N";
    if (isNew ? fresh >= 3 : accounted >= 3)
        continue;
    isNew ? ++fresh : ++accounted;
    grid.setCurrentRow(i);
    grid.key("Space");
    expected[r.CDFILIAL + r.NRPARCELAREC + r.NRLANCTONF + r.NRSEQVENREC] = isNew ? "novo" : r.NRLANCTBDOC;
}
assert(fresh === 3 && accounted === 3, "accounts to mark: " + fresh + " " + accounted);
assert(simulate.enabled && screen.control("mnuSimular").enabled, "the preview follows the confirm");
shell.clearServerCalls();
grid.key("F2", ["Shift"]);

var sent = shell.serverCalls.filter(function (c) { return c.method === "SimConfirmar"; });
assert(sent.length === 1 && shell.serverCalls.length === 1, "one preview call: "
       + JSON.stringify(shell.serverCalls.map(function (c) { return c.method; })));
assert(sent[0].params[0].rows.length === accounts.recordCount && sent[0].params[2] === "01", "the list as the confirm sends it");
var handed = shell.openedScreens.filter(function (s) { return s.code === "CTB10200"; });
assert(handed.length === 1 && handed[0].params.length === 6, "CTB10200 with the differences");

var ctb = shell.form("frmCTB10200");
assert(ctb !== null && ctb.visible, "CTB10200 is shown");
assert(ctb.control("pgcCTB10200").activePage === "tshDiferencas", "on its differences: " + ctb.control("pgcCTB10200").activePage);
var diffs = ctb.dataset("cdsDiferencas");
assert(diffs.recordCount === 6, "one row per marked account: " + diffs.recordCount);
var same = 0;
diffs.rows().forEach(function (d) {
    var was = expected[d.CDLANCCTBCOME];
    assert(was !== undefined, "a marked account: " + d.CDLANCCTBCOME);
    if (was === "novo") {
        assert(d.IDSITUACAO === "novo" && d.NRLANCANT === "" && d.NRLANCNOVO !== "", "a new posting: " + JSON.stringify(d));
    } else {
        assert(d.NRLANCANT.split(" ")[0] === was, "its posting now: " + JSON.stringify(d));
        assert(d.IDSITUACAO === (d.NRLANCANT === d.NRLANCNOVO ? "igual" : "alterado"), JSON.stringify(d));
        if (d.IDSITUACAO === "igual")
            ++same;
    }
    assert(d.VRDEBNOVO !== "" && d.VRDEBNOVO === d.VRCREDNOVO && d.VRDEBNOVO !== "0,00", "balanced new debits: " + JSON.stringify(d));
});
ctb.control("chkSoAlteradas").click();
assert(diffs.recordCount === 6 - same && ctb.control("tshDiferencas").text === "Diferenças (" + (6 - same) + ")",
       "only the changed ones: " + diffs.recordCount);
assert(ctb.control("lblDifDepois").text.indexOf("Depois: débito ") === 0, ctb.control("lblDifDepois").text);

// Nothing was recalculated: the list, its marks and the confirm are as they were.
assert(screen.component("klContMarcadas").count === 6 && screen.control("sbtConfirmar").enabled, "marks and confirm stay");
assert(accounts.rows().filter(function (r) { return expected[r.CDFILIAL + r.NRPARCELAREC + r.NRLANCTONF + r.NRSEQVENREC] === "novo"
                                                   && r.IDCTBLCTREC === "N"; }).length === 3, "still not accounted");
assert(shell.messages.length === 0, "no message: " + JSON.stringify(shell.messages));
