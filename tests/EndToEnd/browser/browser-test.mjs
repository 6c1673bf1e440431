// A real browser page does what VorlaneWeb does against the real service: pairs through the
// terminal dialog, uploads a master and a set, waits for the library to list what was made,
// plays a made file with a seek and shows an upload's refusal.
//
// usage: node browser-test.mjs PROGRAM FFMPEG CHROMIUM SCREENSHOT
// Exit status 0 when it passed, 1 when a step failed, 77 when the service's ports are taken.
import { spawn, execFile } from 'node:child_process';
import { once } from 'node:events';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

const wholeTestLimit = 120_000;
const skipped = 77;
const notMedia = 'not a video or still · MOV, MP4, MXF, MKV, AVI, PNG, JPEG, TIFF…';
const setParts = ['show left.mp4', 'show centre.mp4', 'show right.mp4'];
const master = 'Harbour dawn.mp4';

const [program, ffmpeg, chromiumPath, screenshot] = process.argv.slice(2);
if (!screenshot) {
    console.error('usage: node browser-test.mjs PROGRAM FFMPEG CHROMIUM SCREENSHOT');
    process.exit(2);
}

class Skip extends Error {}

function check(condition, message) {
    if (!condition) throw new Error(message);
}

const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// Polls until found gives a value; the last thing seen tells why it timed out.
async function poll(ms, what, found) {
    const deadline = Date.now() + ms;
    let last;
    while (Date.now() < deadline) {
        const [value, seen] = await found();
        if (value) return value;
        last = seen;
        await sleep(250);
    }
    throw new Error(`${what} not within ${ms / 1000} s; last seen: ${JSON.stringify(last)}`);
}

// Small masters made by the real ffmpeg: a moving test picture, and a JPEG under a PNG name.
async function makeMedia(folder) {
    const run = (args) => promisify(execFile)(ffmpeg, ['-v', 'error', '-y', ...args]);
    const video = (file, size, seconds, hue) => run([
        '-f', 'lavfi', '-i', `testsrc2=size=${size}:rate=10:duration=${seconds},hue=h=${hue}`,
        '-c:v', 'libx264', '-preset', 'veryfast', '-pix_fmt', 'yuv420p', '-movflags', '+faststart',
        path.join(folder, file)]);
    await Promise.all([
        video(master, '320x180', 3, 0),
        ...setParts.map((name, index) => video(name, '160x90', 2, index * 120)),
        run(['-f', 'lavfi', '-i', 'testsrc2=size=160x90', '-frames:v', '1', '-c:v', 'mjpeg', '-f', 'image2',
             path.join(folder, 'still.png')]),
    ]);
}

// The page, from an origin the service allows: http://localhost on a port of its own.
async function startPageServer() {
    const page = fs.readFileSync(path.join(path.dirname(fileURLToPath(import.meta.url)), 'page.html'));
    const server = http.createServer((request, reply) => {
        const found = new URL(request.url, 'http://localhost').pathname === '/';
        reply.writeHead(found ? 200 : 404, { 'Content-Type': 'text/html; charset=utf-8' });
        reply.end(found ? page : 'not found');
    });
    server.listen(0, '127.0.0.1');
    await once(server, 'listening');
    return server;
}

// vorlane-trelk serve with its home in the folder; its lines are kept for the waits and the log.
class Service {
    constructor(home) {
        this.lines = [];
        this.waiters = [];
        // A runtime folder of its own, so that the service never meets the user's running one.
        const runtime = path.join(home, 'runtime');
        fs.mkdirSync(runtime, { recursive: true, mode: 0o700 });
        this.child = spawn(program, ['serve'], {
            env: { ...process.env, HOME: home, XDG_DATA_HOME: path.join(home, 'data'), XDG_RUNTIME_DIR: runtime },
            stdio: ['pipe', 'pipe', 'pipe'],
        });
        this.exited = new Promise((done) => {
            this.child.on('exit', (code, signal) => done(code ?? signal));
            this.child.on('error', (error) => done(error.message));
        });
        this.exited.then((status) => this.heard(`(ended: ${status})`));
        this.child.stdin.on('error', () => {}); // an answer to a service that has gone tells nothing more
        const prompt = /^choose 1–\d+ \[1\]: /; // the answer's line break is not echoed
        readline.createInterface({ input: this.child.stdout }).on('line', (line) => this.heard(line.replace(prompt, '')));
        readline.createInterface({ input: this.child.stderr }).on('line', (line) => this.heard(`stderr: ${line}`));
    }

    heard(line) {
        this.lines.push(line);
        this.waiters = this.waiters.filter((waiter) => !waiter(line));
    }

    // The index of the first line, from the from-th on, that matches; waits for it when none has yet.
    line(matches, from, ms) {
        const seen = this.lines.findIndex((line, index) => index >= from && matches(line));
        if (seen >= 0) return Promise.resolve(seen);
        return new Promise((done, failed) => {
            const timer = setTimeout(() => failed(new Error(`the service did not print the line awaited within ${ms / 1000} s`)), ms);
            this.waiters.push((line) => {
                if (!matches(line)) return false;
                clearTimeout(timer);
                done(this.lines.length - 1);
                return true;
            });
        });
    }

    // Ends it and waits; SIGKILL when it does not end by itself in time. Its exit status.
    async stop(signal = 'SIGTERM') {
        if (this.child.exitCode === null && this.child.signalCode === null) this.child.kill(signal);
        const timer = setTimeout(() => this.child.kill('SIGKILL'), 5000);
        const status = await this.exited;
        clearTimeout(timer);
        return status;
    }
}

async function run(state) {
    const step = async (name, work) => {
        state.step = name;
        console.log(`step: ${name}`);
        return work();
    };

    const folder = state.folder = fs.mkdtempSync(path.join(os.tmpdir(), 'trelk-browser-'));
    const media = path.join(folder, 'media');
    const home = path.join(folder, 'home');
    fs.mkdirSync(media);
    fs.mkdirSync(home);

    await step('make the test media with ffmpeg', () => makeMedia(media));
    state.pageServer = await startPageServer();
    const pageOrigin = `http://localhost:${state.pageServer.address().port}`;

    const service = state.service = new Service(home);
    const servicePort = await step('start the service', async () => {
        const first = service.lines[await service.line(() => true, 0, 15_000)];
        if (first.startsWith('Trelk off')) throw new Skip(`the service's ports are taken on this machine: ${first}`);
        check(first.startsWith('listening on 127.0.0.1:'), `the service's first line: ${first}`);
        return first.slice(first.lastIndexOf(':') + 1);
    });

    const { chromium } = await import('playwright-core').catch((error) => {
        throw new Error(`playwright-core is missing (scripts/setup installs it): ${error.message}`);
    });
    state.browser = await step('start the browser', () => chromium.launch({
        executablePath: chromiumPath, headless: true, args: ['--no-sandbox'], timeout: 30_000,
        handleSIGINT: false, handleSIGTERM: false, handleSIGHUP: false, // the test ends it itself
    }));
    const page = state.page = await state.browser.newPage({ viewport: { width: 720, height: 900 } });
    page.setDefaultTimeout(30_000);
    page.on('console', (message) => state.console.push(`${message.type()}: ${message.text()}`));
    page.on('pageerror', (error) => state.console.push(`page error: ${error.message}`));
    const fileReplies = []; // the browser's own requests for library files: "status range"
    page.on('response', async (reply) => {
        if (reply.url().includes('/trelk/file/')) fileReplies.push(`${reply.status()} ${(await reply.request().allHeaders()).range}`);
    });
    await page.goto(`${pageOrigin}/?service=${encodeURIComponent(`http://127.0.0.1:${servicePort}`)}`);

    await step('1. pair through the terminal dialog', async () => {
        const paired = page.evaluate(() => window.trelk.pair());
        paired.catch(() => {}); // awaited below; a failure meanwhile is not unhandled
        const asked = await service.line((line) => line === 'Allow VorlaneWeb to use your library?', 0, 10_000);
        await service.line((line) => line.startsWith('  2.'), asked, 5_000);
        const [, code, origin] = service.lines.slice(asked);
        const shown = await page.locator('#code').textContent();
        check(code === `Code ${shown} · check it matches the page`, `the dialog's code line "${code}" against the page's code ${shown}`);
        check(origin === pageOrigin, `the dialog names the origin "${origin}", the page is at ${pageOrigin}`);
        service.child.stdin.write('\n'); // the default button: Allow
        const { token } = await paired;
        check(/^[0-9a-f]{64}$/.test(token), `the token ${token}`);
        check(await page.locator('#link').textContent() === 'Linked', 'the page does not say it is linked');
    });

    await step(`2a. upload ${master} after its pre-check`, async () => {
        await page.setInputFiles('#files', path.join(media, master));
        const [sent] = await page.evaluate(() => window.trelk.send());
        check(sent.check.status === 200 && sent.check.body.ok === true && sent.check.body.max === 274877906944,
              `the pre-check answered ${sent.check.status} ${JSON.stringify(sent.check.body)}`);
        check(sent.sent.status === 200, `the upload answered ${sent.sent.status} ${JSON.stringify(sent.sent.body)}`);
        check(JSON.stringify(sent.sent.body.names) === JSON.stringify([master]) && sent.sent.body.jobs.length === 1,
              `the upload's reply ${JSON.stringify(sent.sent.body)}`);
    });

    await step('2b. upload three set parts as one batch', async () => {
        await page.setInputFiles('#files', setParts.map((name) => path.join(media, name)));
        const sent = await page.evaluate(() => window.trelk.send('show'));
        const replies = sent.map((file) => file.sent?.body);
        check(sent.every((file) => file.check.status === 200 && file.sent?.status === 200),
              `the batch's replies: ${JSON.stringify(sent)}`);
        check(replies[0].waiting === 2 && replies[1].waiting === 1 && !('waiting' in replies[2]),
              `the batch's replies count down wrong: ${JSON.stringify(replies)}`);
        check(JSON.stringify(replies[2].names) === JSON.stringify(setParts) && replies[2].jobs.length === 3,
              `the last part's reply: ${JSON.stringify(replies[2])}`);
    });

    const listing = await step('3. wait until the library lists the master and the set', () => poll(60_000, 'the made master and set', async () => {
        const listed = await page.evaluate(() => window.trelk.library());
        const failed = listed.jobs.find((job) => job.state === 'failed');
        check(!failed, `a job failed: ${JSON.stringify(failed)}`);
        const video = listed.assets.find((asset) => asset.kind === 'video' && asset.file === master);
        const set = listed.assets.find((asset) => asset.kind === 'set');
        const done = video && set && listed.jobs.length === 0;
        return [done && { video, set }, listed];
    }));
    check(JSON.stringify(listing.set.parts.map((part) => part.file)) === JSON.stringify(setParts),
          `the set's parts, left to right: ${JSON.stringify(listing.set.parts)}`);

    await step('4. play the made master and seek to its middle', async () => {
        const facts = await page.evaluate(([id, file]) => window.trelk.play(id, file), [listing.video.id, listing.video.file]);
        console.log(`  played: ${JSON.stringify(facts)}; file requests: ${fileReplies.join(', ')}`);
        check(facts.width === 320 && facts.height === 180, `the video's size ${facts.width} × ${facts.height}`);
        check(Math.abs(facts.duration - 3) < 0.2, `the video's duration ${facts.duration}`);
        check(facts.readyState >= 2 && Math.abs(facts.currentTime - facts.middle) < 0.01,
              `after the seek: readyState ${facts.readyState}, currentTime ${facts.currentTime}`);
        check(facts.mediaTime !== null && Math.abs(facts.mediaTime - facts.middle) <= 0.1 + 1e-3,
              `the frame presented after the seek is at ${facts.mediaTime}, not at ${facts.middle}`);
        check(facts.litShare > 0.3, `the frame drawn is mostly black (${Math.round(facts.litShare * 100)} % lit)`);
        check(facts.playedTo > facts.middle + 0.2, `playing from the middle reached only ${facts.playedTo}`);
        check(fileReplies.some((reply) => /^206 bytes=\d+-/.test(reply)), `the browser's file requests: ${fileReplies.join(', ')}; none in a range`);
    });

    await step('5. show the refusal of a JPEG named still.png', async () => {
        await page.setInputFiles('#files', path.join(media, 'still.png'));
        const [sent] = await page.evaluate(() => window.trelk.send());
        check(sent.check.status === 200, `the pre-check answered ${sent.check.status} ${JSON.stringify(sent.check.body)}`);
        check(sent.sent.status === 415, `the upload answered ${sent.sent.status} ${JSON.stringify(sent.sent.body)}`);
        const shown = await page.locator('#uploads li', { hasText: 'still.png' }).textContent();
        check(shown === `still.png · ${notMedia}`, `the page shows "${shown}"`);
    });
}

// Ends everything this test started and removes its folder, whatever happened.
async function cleanUp(state) {
    if (state.page) await state.page.screenshot({ path: screenshot, fullPage: true, timeout: 10_000 }).catch(() => {});
    if (state.browser) await Promise.race([state.browser.close(), sleep(10_000)]).catch(() => {});
    const exit = state.service ? await state.service.stop() : 0;
    state.pageServer?.close();
    if (state.folder) fs.rmSync(state.folder, { recursive: true, force: true });
    return exit;
}

const state = { step: 'set up', console: [] };
let failure = null;
const running = run(state);
running.catch(() => {}); // once the race is over, its later failures (the browser closing under it) are moot
try {
    await Promise.race([
        running,
        sleep(wholeTestLimit).then(() => { throw new Error(`the whole test took longer than ${wholeTestLimit / 1000} s`); }),
        new Promise((_, failed) => ['SIGINT', 'SIGTERM', 'SIGHUP'].forEach((signal) =>
            process.once(signal, () => failed(new Error(`interrupted by ${signal}`))))),
    ]);
} catch (error) {
    failure = error;
}
const serviceExit = await cleanUp(state);
if (!failure && serviceExit !== 0) {
    state.step = 'end the service';
    failure = new Error(`the service ended with ${serviceExit} on SIGTERM`);
}
if (failure instanceof Skip) {
    console.log(`skipped: ${failure.message}`);
    process.exit(skipped);
}
if (failure) {
    console.error(`FAILED at step "${state.step}": ${failure.message}`);
    console.error(`the service printed:\n  ${state.service?.lines.join('\n  ')}`);
    if (state.console.length) console.error(`the page's console:\n  ${state.console.join('\n  ')}`);
    if (state.page) console.error(`screenshot: ${screenshot}`);
    process.exit(1);
}
console.log(`passed; screenshot: ${screenshot}`);
process.exit(0);
