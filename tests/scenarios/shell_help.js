// F1 and "?" open the manual of the screen that has the focus, also over the modal filter.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var company = screen.control("medCdEmpresa");

company.key("F1");
var help = shell.form("frmAjuda");
assert(help !== null && help.visible, "F1 opens the help window");
assert(help.caption.indexOf("REC00800") >= 0, "REC00800's manual: " + help.caption);
assert(screen.focused === "medCdEmpresa", "the screen keeps its focus: " + screen.focused);
help.control("txbAjuda").key("F1");
assert(help.caption.indexOf("REC00800") >= 0, "F1 in the manual keeps its page: " + help.caption);
help.close();

company.type("01");
screen.control("dbgPadrao").focus();
var inFilter = "";
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    filter.control("pgcPadrao").key("F1");
    var over = shell.form("frmAjuda");
    inFilter = over.visible ? over.caption : "";
    over.close();
    filter.close();
});
screen.control("sbtFiltro").click();
assert(inFilter.indexOf("REC00801") >= 0, "F1 in the filter dialog opens its manual: " + inFilter);

screen.control("sbtAjuda").click();
help = shell.form("frmAjuda");
assert(help.visible && help.caption.indexOf("REC00800") >= 0, "\"?\" opens the screen's manual: " + help.caption);
help.close();
