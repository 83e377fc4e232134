// Injected by tst_report into a copy of the report page (the page itself has
// no script): measures what Chromium laid out and writes it as JSON into a
// <pre id="measured"> that --dump-dom prints.
(function () {
  const out = {};
  const box = (el) => el.getBoundingClientRect();
  const bars = (chart) => Array.from(document.querySelectorAll('svg[data-chart="' + chart + '"] rect.bar'))
    .map((r) => ({ x: box(r).left, height: box(r).height }))
    .sort((a, b) => a.x - b.x)
    .map((b) => Math.round(b.height * 10) / 10);
  out.throughput = bars('throughput');
  out.pareto = bars('pareto');
  out.charts = Array.from(document.querySelectorAll('svg.chart')).map((svg) => ({
    chart: svg.dataset.chart, width: box(svg).width, height: box(svg).height }));
  out.page_width = document.documentElement.scrollWidth;
  out.window_width = window.innerWidth;
  // Text cut off or spilling out of its box: an HTML element whose content
  // is wider than it, or an SVG text outside its chart.
  out.overflowing = [];
  for (const el of document.body.querySelectorAll('*')) {
    if (el.closest('svg') || el.id === 'measured' || el.tagName === 'SCRIPT') continue;
    if (el.scrollWidth > el.clientWidth + 1 && getComputedStyle(el).display !== 'inline')
      out.overflowing.push(el.tagName + ': ' + el.textContent.slice(0, 60));
  }
  for (const text of document.querySelectorAll('svg text')) {
    const t = box(text), s = box(text.closest('svg'));
    if (t.left < s.left - 0.5 || t.right > s.right + 0.5 || t.top < s.top - 0.5 || t.bottom > s.bottom + 0.5)
      out.overflowing.push('svg text: ' + text.textContent);
  }
  // Texts side by side in a chart (the names under the bars) that run into
  // each other.
  for (const svg of document.querySelectorAll('svg.chart')) {
    const texts = Array.from(svg.querySelectorAll('text'));
    for (let i = 0; i < texts.length; ++i)
      for (let j = i + 1; j < texts.length; ++j) {
        const a = box(texts[i]), b = box(texts[j]);
        if (texts[i].getAttribute('y') === texts[j].getAttribute('y') && a.left < b.right && b.left < a.right)
          out.overflowing.push('svg texts overlap: ' + texts[i].textContent + ' / ' + texts[j].textContent);
      }
  }
  // Markup from a journal must stay text: no element it could have made.
  out.elements_from_text = document.querySelectorAll('img, iframe, object, embed, body script:not(#harness)').length;
  out.title = document.title;
  out.text = document.body.innerText;
  const pre = document.createElement('pre');
  pre.id = 'measured';
  pre.textContent = JSON.stringify(out);
  document.body.appendChild(pre);
})();
