// The control object: properties, focus with exit events, typing through key filters, text
// pasted, keys and shortcuts, clicks, picks, grids and page controls.
shell.open("REC00800");
var screen = shell.form("frmRecCont");
var company = screen.control("medCdEmpresa");
var name = screen.control("edtNmEmpresa");
var grid = screen.control("dbgPadrao");

assert(company.name === "medCdEmpresa", company.name);
assert(company.maxLength === 2, "maxLength " + company.maxLength);
assert(company.enabled && company.visible && company.focused, "the company field is ready");
assert(!name.enabled, "the company name is read only");
assert(screen.control("btpEmpresa").hint === "Pesquisar", "hint: " + screen.control("btpEmpresa").hint);
assert(screen.control("sbtFiltro").enabled === false, "no filter while in the company panel");
assert(screen.control("mnuFiltro").text === "&Filtrar", "menu item text: " + screen.control("mnuFiltro").text);
assert(screen.control("mnuFiltro").enabled === false, "menu item follows the button");

// Typing runs the key filter of the mask: letters are refused, digits go in.
company.type("a1");
assert(company.text === "1", "the mask takes digits only: '" + company.text + "'");
// Leaving the field runs its exit: the code is fitted and the name shown.
grid.focus();
assert(company.text === "01", "fitted code: " + company.text);
assert(name.text === "Comercial Aurora Distribuidora Ltda", "name: " + name.text);
assert(grid.focused && screen.focused === "dbgPadrao", "the focus is in the grid: " + screen.focused);
assert(!company.focused, "and no longer in the company field");

// setText changes the text without the key filter and without moving the focus; the change
// event clears the name at once.
company.setText("03");
assert(company.text === "03" && name.text === "", "pasted text clears the name");
assert(grid.focused, "the focus stayed in the grid");
company.focus();
grid.focus();
assert(name.text === "Atacado Serra Azul Ltda", "name of 03: " + name.text);

// The grid.
assert(grid.rowCount > 2, "rows: " + grid.rowCount);
assert(grid.currentRow === 0, "first row current: " + grid.currentRow);
var titles = grid.columns.map(function (c) { return c.field + ":" + c.title + ":" + c.width; });
assert(titles.join(",") === "DTATUAVENREC:Vencimento:67,NMRAZSOCCLIE:Cliente:249,NRPARCELAREC:Parc.:64,"
       + "DOCUMENTO:Doc / Série:63,VRATUAREC:Valor:70,IDMARCADO:4:20", titles.join(","));
grid.setCurrentRow(2);
assert(grid.currentRow === 2 && screen.dataset("cdsContRec").recNo === 3, "a click on row 2");
assert(grid.cellText(2, "VRATUAREC") === screen.dataset("cdsContRec").displayText("VRATUAREC"), "cell text");
assert(grid.cellPicture(2, "IDMARCADO") === "imgUncheck", "unmarked picture: " + grid.cellPicture(2, "IDMARCADO"));
assert(grid.cellPicture(2, "NMRAZSOCCLIE") === "", "no picture in a text column");
grid.dblClick();
assert(grid.cellPicture(2, "IDMARCADO") === "imgCheck", "a double click marks: " + grid.cellPicture(2, "IDMARCADO"));
grid.key("Space");
assert(grid.cellPicture(2, "IDMARCADO") === "imgUncheck", "Space unmarks");
grid.key("Space", ["Shift"]);
assert(screen.dataset("cdsContRec").value("IDMARCADO") === "S", "Space with Shift marks too");
assert(screen.control("sbtConfirmar").enabled, "a mark enables the confirm command");
grid.titleClick("VRATUAREC");
assert(shell.messages.length === 0, "another title asks nothing");

// The page control: a click on a tab.
var pages = screen.control("pgcPadrao");
assert(pages.activePage === "tshFolhaDados", pages.activePage);
pages.setActivePage("tshFormulario");
assert(pages.activePage === "tshFormulario" && pages.focused, "the Ajustes page, focus on the tabs");
assert(screen.control("tshFormulario").text === "Ajustes", screen.control("tshFormulario").text);
screen.control("tshFolhaDados").click();
assert(pages.activePage === "tshFolhaDados", "a click on a tab page shows it");

// A shortcut goes to the form's menu item: Ctrl+L opens the filter dialog.
var opened = false;
shell.onModal("frmFiltroRecalLancContReceber", function (filter) {
    opened = true;
    var status = filter.control("cbbStatus");
    assert(status.itemIndex === 5 && status.text === "Todas", "status default: " + status.itemIndex);
    status.select(2);
    assert(status.itemIndex === 2 && status.text === "Em Aberto", "picked: " + status.text);
    var ctbl = filter.control("rdgCtbl");
    ctbl.select(0);
    assert(ctbl.itemIndex === 0, "radio group pick");
    var clients = filter.control("rbtListaClie");
    filter.control("pgcPadrao").setActivePage("tshDocumento");
    clients.click();
    assert(clients.checked && filter.control("btnListClie").enabled, "Lista enables the lookup");
    filter.control("rbtTodosClie").click();
    assert(!clients.checked && !filter.control("btnListClie").enabled, "Todos disables it");
    filter.close();
});
grid.key("L", ["Ctrl"]);
assert(opened, "Ctrl+L opened the filter");

// A menu item clicked from the script; a disabled one does nothing.
company.focus();
assert(!screen.control("mnuFiltro").enabled, "disabled in the company panel");
opened = false;
screen.control("mnuFiltro").click();
screen.control("sbtFiltro").click();
assert(!opened, "a disabled menu item or button opens nothing");

var errors = [];
function expectThrow(what, fn, part) {
    try {
        fn();
        errors.push(what + ": nothing thrown");
    } catch (e) {
        if (String(e).indexOf(part) < 0)
            errors.push(what + ": " + e);
    }
}
expectThrow("unknown key", function () { grid.key("Tecla"); }, "Tecla");
expectThrow("bad modifier", function () { grid.key("L", ["Super"]); }, "Super");
expectThrow("row out of range", function () { grid.setCurrentRow(100000); }, "100000");
expectThrow("grid property of an edit", function () { return company.rowCount; }, "grade");
expectThrow("select on an edit", function () { company.select(0); }, "medCdEmpresa");
expectThrow("setText on a button", function () { screen.control("sbtFiltro").setText("x"); }, "sbtFiltro");
expectThrow("focus on a disabled control", function () { name.focus(); }, "desabilitado");
expectThrow("unknown page", function () { screen.control("pgcPadrao").setActivePage("tshNada"); }, "tshNada");
expectThrow("unknown column", function () { grid.titleClick("NADA"); }, "NADA");
assert(errors.length === 0, errors.join("; "));
