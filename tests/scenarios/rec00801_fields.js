// REC00801 as a user meets its fields: both pages pictured, value edits refusing the minus
// sign and an eleventh integer digit key by key, an invalid date that keeps the focus, a lone
// first number made a one-number range, Ctrl+D, a salesman list picked, the options saved and
// loaded again, and the arguments the query then carries.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
screen.control("medCdEmpresa").type("01");
screen.control("dbgPadrao").focus();

function lastQuery() {
    var q = shell.serverCalls.filter(function (c) { return c.method === "GetContRec"; });
    return q.length ? q[q.length - 1].params : null;
}
function lastMessage() {
    return shell.messages.length ? shell.messages[shell.messages.length - 1].text : "";
}

var seen = {};
var salesmen = [];
shell.onModal("frmPesquisaLista", function (picker) {
    var list = picker.control("dbgLista");
    list.setCurrentRow(1);
    list.key("Space");
    salesmen = [list.cellText(1, "CDVENDEDOR")];
    picker.control("btnOk").click();
});
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    var c = function (n) { return filter.control(n); };
    shell.screenshot("shots/rec00801_conta.png");

    // Key by key: no minus sign, at most ten integer and two decimal digits.
    c("nedVrOriginalFin").setText("");
    c("nedVrOriginalFin").type("-123456789012");
    seen.original = c("nedVrOriginalFin").text;
    c("nedVrLiquidoFin").setText("");
    c("nedVrLiquidoFin").type("99,999");
    seen.liquido = c("nedVrLiquidoFin").text;

    // An invalid date is refused when the user leaves it, and the focus stays.
    c("depVencFin").focus();
    c("depVencFin").setText("31/02/2024");
    c("depVencIni").focus();
    seen.invalidDate = lastMessage() + "|" + filter.focused;
    c("depVencFin").setText("14/04/2024");
    c("depVencIni").focus();
    seen.leftDate = filter.focused;

    // Ctrl+D puts the status on "Baixada" and the values back to zero.
    c("cbbStatus").select(2);
    c("nedVrOriginalIni").key("D", ["Ctrl"]);
    seen.undone = c("cbbStatus").text + "|" + c("nedVrOriginalFin").text + "|" + c("grbSituacao").enabled;
    c("cbbStatus").select(5);

    c("pgcPadrao").setActivePage("tshDocumento");
    c("medNrDocuIni").type("4521");
    c("nedVrDocuIni").focus();
    seen.numbers = c("medNrDocuIni").text + "|" + c("medNrDocuFin").text;
    c("nedVrDocuFin").setText("");
    c("nedVrDocuFin").type("-9,5");
    seen.docValue = c("nedVrDocuFin").text;

    seen.vendEnabled = c("rbtVendLista").enabled;
    c("rbtVendLista").click();
    c("btnPesqVend").click();
    shell.screenshot("shots/rec00801_documento.png");

    // Saved options bring the picked list back after "Desfazer".
    c("btfSaveOpc").click();
    c("sbtLimpa").click();
    seen.cleared = c("rbtVendTodos").checked + "|" + c("medNrDocuIni").text;
    c("btfLoadOpc").click();
    seen.loaded = c("rbtVendLista").checked + "|" + c("btnPesqVend").enabled + "|" + c("medNrDocuIni").text;
    c("sbtConfirma").click();
    seen.closed = !filter.visible;
});
screen.control("sbtFiltro").click();

assert(seen.original === "1234567890", "minus and eleventh digit refused: " + seen.original);
assert(seen.liquido === "99,99", "third decimal refused: " + seen.liquido);
assert(seen.invalidDate === "Data inválida: 31/02/2024|depVencFin", seen.invalidDate);
assert(seen.leftDate === "depVencIni", "a valid date lets the focus go: " + seen.leftDate);
assert(seen.undone === "Baixada|0,00|true", "Ctrl+D: " + seen.undone);
assert(seen.numbers === "0004521|0004521", "a lone first number: " + seen.numbers);
assert(seen.docValue === "9,5", "no minus in the document value: " + seen.docValue);
assert(seen.vendEnabled, "the demo branch controls salesmen");
assert(seen.cleared === "true|", "Desfazer: " + seen.cleared);
assert(seen.loaded === "true|true|0004521", "options loaded: " + seen.loaded);
assert(seen.closed, "a good filter closes the dialog");

var q = lastQuery();
assert(q[1] === "0004521" && q[2] === "0004521", "one document number: " + JSON.stringify(q));
assert(q[11] === salesmen.join(";") && salesmen[0], "the salesman picked: " + q[11] + " / " + salesmen);
assert(q[9] === 0 && q[10] === 9.5, "the saved document values came back: " + q[9] + ".." + q[10]);
assert(q[23] === "5" && q[22] === "T", "status and accounting: " + q[23] + q[22]);
